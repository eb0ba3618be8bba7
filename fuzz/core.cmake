# Harnesses of the core: the settings file, the encrypted text of stored
# passwords, code page 932 and the address check.
kestlin_add_fuzzer(cp932 SOURCES cp932_fuzz.cpp LIBS kestlin_core)
kestlin_add_fuzzer(mail_address SOURCES mail_address_fuzz.cpp LIBS kestlin_core)
kestlin_add_fuzzer(ini_read SOURCES ini_read_fuzz.cpp LIBS kestlin_core)
kestlin_add_fuzzer(ini_write SOURCES ini_write_fuzz.cpp LIBS kestlin_core)
kestlin_add_fuzzer(crypt_text SOURCES crypt_text_fuzz.cpp LIBS capicom)
