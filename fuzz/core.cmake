# Harnesses of the core: the settings file, the encrypted text of stored
# passwords, code page 932 and the address check.
kestlin_add_fuzzer(cp932 SOURCES cp932_fuzz.cpp LIBS kestlin_core)
kestlin_add_fuzzer(mail_address SOURCES mail_address_fuzz.cpp LIBS kestlin_core)
