# The training run of the profile-guided build (cmake -DBENCH=... -DPROFILE=... -P this file).
#
# The profile is recorded again only when the instrumented benchmark is newer than the last
# recording, so a build after a code change gets a profile of the code it compiles, and a
# build with nothing changed costs no search.
set(stamp ${PROFILE}/recorded)
if(EXISTS ${stamp} AND NOT ${BENCH} IS_NEWER_THAN ${stamp})
  return()
endif()
file(REMOVE_RECURSE ${PROFILE})
# Both programs' searches, at depths that take a few seconds.
execute_process(COMMAND ${BENCH} search 9 COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${BENCH} classic 7 COMMAND_ERROR_IS_FATAL ANY)
file(TOUCH ${stamp})
