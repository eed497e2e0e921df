# The fuzz targets in the test build. When a clang++ that can link libFuzzer is at hand,
# the targets of this folder are built in a sub-build of their own (<build>/fuzz; see
# CMakeLists.txt here) and each one replays its seed corpus and then tries a short, fixed
# number of new inputs: a regression check of a few seconds per target. Without such a
# compiler, or with -DVT_FUZZ=OFF, one test reports the targets as skipped.

option(VT_FUZZ "Build the fuzz targets with clang and replay their seed corpora" ON)
set(VT_FUZZ_CXX "" CACHE FILEPATH "clang++ for the fuzz targets; found on the path when empty")

# New inputs tried after the seeds, per target: a few seconds each.
set(VT_FUZZ_REPLAY_RUNS_format 20000)
set(VT_FUZZ_REPLAY_RUNS_scan 20000)
set(VT_FUZZ_REPLAY_RUNS_strconv 20000)
set(VT_FUZZ_REPLAY_RUNS_date 20000)
set(VT_FUZZ_REPLAY_RUNS_malloc 4000)
# The link's targets go through sockets, threads and files: a few hundred a second.
set(VT_FUZZ_REPLAY_RUNS_ini 1000)
set(VT_FUZZ_REPLAY_RUNS_packet 800)
set(VT_FUZZ_REPLAY_RUNS_records 600)
set(VT_FUZZ_REPLAY_RUNS_plugin 3000)
set(VT_FUZZ_REPLAY_RUNS_https 600)
set(VT_FUZZ_REPLAY_RUNS_native 5000)
# Every install of the package target runs tar and writes a tree.
set(VT_FUZZ_REPLAY_RUNS_package 120)

set(vt_fuzz_skip "")
if(NOT VT_FUZZ)
    set(vt_fuzz_skip "switched off (VT_FUZZ=OFF)")
else()
    if(VT_FUZZ_CXX)
        set(vt_fuzz_cxx "${VT_FUZZ_CXX}")
    else()
        unset(vt_fuzz_cxx)
        find_program(vt_fuzz_cxx NAMES clang++ clang++-16 clang++-15 clang++-14 NO_CACHE)
    endif()
    if(NOT vt_fuzz_cxx)
        set(vt_fuzz_skip "no clang++ found (scripts/install-deps.sh installs it)")
    elseif(NOT VT_FUZZ_PROBED_CXX STREQUAL vt_fuzz_cxx)
        # Can it build and link a fuzz target with the sanitizers? Asked once per compiler.
        set(probe_dir ${CMAKE_BINARY_DIR}/fuzz-probe)
        file(MAKE_DIRECTORY ${probe_dir})
        file(WRITE ${probe_dir}/probe.cpp
             "#include <cstddef>\n#include <cstdint>\n"
             "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
        execute_process(COMMAND ${vt_fuzz_cxx} -fsanitize=fuzzer,address,undefined
                                ${probe_dir}/probe.cpp -o ${probe_dir}/probe
                        RESULT_VARIABLE probe_rc OUTPUT_QUIET ERROR_QUIET)
        set(VT_FUZZ_PROBED_CXX "${vt_fuzz_cxx}" CACHE INTERNAL "")
        if(probe_rc EQUAL 0)
            set(VT_FUZZ_USABLE ON CACHE INTERNAL "")
        else()
            set(VT_FUZZ_USABLE OFF CACHE INTERNAL "")
        endif()
    endif()
    if(vt_fuzz_cxx AND NOT VT_FUZZ_USABLE)
        set(vt_fuzz_skip "${vt_fuzz_cxx} cannot link libFuzzer with the sanitizers (install clang and libclang-rt-dev)")
    endif()
endif()

if(vt_fuzz_skip)
    message(STATUS "Fuzz targets skipped: ${vt_fuzz_skip}")
    add_test(NAME fuzz_targets_skipped
             COMMAND sh -c "echo 'fuzz targets skipped: ${vt_fuzz_skip}'; exit 77")
    set_tests_properties(fuzz_targets_skipped PROPERTIES SKIP_RETURN_CODE 77)
    return()
endif()

message(STATUS "Fuzz targets: built with ${vt_fuzz_cxx} in ${CMAKE_BINARY_DIR}/fuzz")
include(ExternalProject)
ExternalProject_Add(vt_fuzz_targets
    SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${vt_fuzz_cxx}
               -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")

file(GLOB vt_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fuzz_*.cpp)
foreach(src ${vt_fuzz_sources})
    get_filename_component(target ${src} NAME_WE)
    string(REGEX REPLACE "^fuzz_" "" name ${target})
    if(name STREQUAL "support")
        continue()
    endif()
    set(runs ${VT_FUZZ_REPLAY_RUNS_${name}})
    if(NOT runs)
        set(runs 10000)
    endif()
    add_test(NAME fuzz_${name}_replay
             COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/fuzz.sh --replay ${CMAKE_BINARY_DIR}/fuzz ${name} ${runs})
    set_tests_properties(fuzz_${name}_replay PROPERTIES TIMEOUT 300 LABELS fuzz)
endforeach()
