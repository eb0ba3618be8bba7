# The send pipeline: its steps without servers, the whole submission against
# real mail servers, and the progress window.
#
# Every test here may write error logs into the one program folder, whose
# names carry only the second: they take turns. Those that sign in by POP
# before SMTP need 127.0.0.1:110, shared with other areas' tests.
set(_send_locks "RESOURCE_LOCK;kestlin_startup_errlog")
kestlin_add_tests(kestlin_send_tests
  SOURCES SendSteps_test.cpp SendTestSupport.cpp
  PROPERTIES ${_send_locks})
