# The profile-guided release build.
#
# With VARKON_PGO (off by default; a GCC release build only), the build first makes an
# instrumented copy of the benchmark in <build>/pgo/build, runs its two search benchmarks
# to record which branches and calls the searches take, and then compiles every object of
# the real build with that profile. When a later build changes the code, the instrumented
# copy is rebuilt and the profile recorded again before the changed objects are compiled:
# a profile older than its code would be dropped, function by function, without a word.
#
# varkon_pgo_setup() goes before the targets (it sets the compile options); after them,
# varkon_pgo_order() makes every target of the directory wait for the profile.

include(CheckCXXCompilerFlag)
include(ExternalProject)

set(VARKON_PGO_GENERATE "" CACHE PATH "Internal: the directory an instrumented build writes its profile to")
mark_as_advanced(VARKON_PGO_GENERATE)

# Off by default: measured side by side with the plain release build, the profile gave
# varkon's search no more nodes per second and varkon_classic's about 7% fewer, for an
# extra build. It stays for compilers or machines where it pays.
option(VARKON_PGO "Profile-guided release build (instrumented build, benchmark run, rebuild)" OFF)
if(VARKON_PGO AND NOT VARKON_PGO_GENERATE)
  # -fprofile-prefix-path lets the profile recorded in one build directory serve another.
  check_cxx_compiler_flag("-fprofile-use -fprofile-prefix-path=${CMAKE_BINARY_DIR} -Wno-missing-profile"
                          VARKON_PGO_SUPPORTED)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Release" OR VARKON_SANITIZE OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
     OR NOT VARKON_PGO_SUPPORTED)
    message(STATUS "VARKON_PGO needs a GCC release build without sanitizers: building without a profile")
    set(VARKON_PGO OFF)
  endif()
endif()

macro(varkon_pgo_setup)
  set(varkon_pgo_profile_dir ${CMAKE_BINARY_DIR}/pgo/profile)
  if(VARKON_PGO_GENERATE)
    add_compile_options(-fprofile-generate=${VARKON_PGO_GENERATE} -fprofile-prefix-path=${CMAKE_BINARY_DIR}
                        -fprofile-update=prefer-atomic)
    add_link_options(-fprofile-generate=${VARKON_PGO_GENERATE})
  elseif(VARKON_PGO)
    # Under make, $(MAKE) shares the jobs given to the outer build (-j2) with the inner one.
    if(CMAKE_GENERATOR MATCHES "Makefiles")
      set(varkon_pgo_build "$(MAKE)" varkon_bench)
    else()
      set(varkon_pgo_build ${CMAKE_COMMAND} --build <BINARY_DIR> --target varkon_bench)
    endif()
    ExternalProject_Add(varkon_pgo_profile
      SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/pgo/build
      CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DVARKON_TESTS=OFF -DVARKON_PGO=OFF
                 -DVARKON_PGO_GENERATE=${varkon_pgo_profile_dir}
                 -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
      BUILD_COMMAND ${varkon_pgo_build}
      # Every build brings the instrumented copy up to date (nothing to do when no source
      # changed); the training run repeats only when that copy changed.
      BUILD_ALWAYS ON
      INSTALL_COMMAND ${CMAKE_COMMAND} -DBENCH=<BINARY_DIR>/varkon_bench -DPROFILE=${varkon_pgo_profile_dir}
                      -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/pgo_train.cmake
      USES_TERMINAL_INSTALL ON)
    add_compile_options(-fprofile-use=${varkon_pgo_profile_dir} -fprofile-prefix-path=${CMAKE_BINARY_DIR}
                        -Wno-missing-profile -Wno-coverage-mismatch)
    add_link_options(-fprofile-use=${varkon_pgo_profile_dir})
  endif()
endmacro()

function(varkon_pgo_order)
  if(NOT VARKON_PGO OR VARKON_PGO_GENERATE)
    return()
  endif()
  get_property(targets DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(NOT t STREQUAL "varkon_pgo_profile" AND NOT type STREQUAL "INTERFACE_LIBRARY")
      add_dependencies(${t} varkon_pgo_profile)
    endif()
  endforeach()
endfunction()
