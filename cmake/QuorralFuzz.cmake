# quorral_add_fuzz_test(NAME [MAX_LEN bytes])
# The libFuzzer executable fuzz/fuzz_NAME (built by the quorral_fuzz project) and its
# checked-in inputs fuzz/corpus/NAME, run four ways:
#   test   fuzz_NAME_corpus   every checked-in input once, nothing written anywhere
#   test   fuzz_NAME          QUORRAL_FUZZ_SECONDS of fuzzing from the checked-in inputs
#   target fuzz-long          QUORRAL_FUZZ_LONG_SECONDS of fuzzing for every target
#   target fuzz-merge         folds the inputs found by fuzzing that add coverage into
#                             fuzz/corpus/NAME, for committing
# Fuzzing writes its new inputs to build/fuzz-corpus/NAME and its crashes to
# build/fuzz-artifacts/, never to the source tree.
if(NOT TARGET fuzz-long)
    add_custom_target(fuzz-long)
    add_custom_target(fuzz-merge)
endif()

function(quorral_add_fuzz_test name)
    cmake_parse_arguments(ARG "" "MAX_LEN" "" ${ARGN})
    set(fuzzer ${CMAKE_BINARY_DIR}/fuzz/fuzz_${name})
    set(seeds ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    set(found ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    set(artifacts ${CMAKE_BINARY_DIR}/fuzz-artifacts/)
    file(MAKE_DIRECTORY ${found} ${artifacts})
    set(options -timeout=10 -rss_limit_mb=2048 -artifact_prefix=${artifacts})
    if(ARG_MAX_LEN)
        list(APPEND options -max_len=${ARG_MAX_LEN})
    endif()

    # Files one by one rather than the directory: given a directory, libFuzzer copies what
    # it reads into its first corpus directory.
    file(GLOB inputs CONFIGURE_DEPENDS ${seeds}/*)
    list(SORT inputs)
    add_test(NAME fuzz_${name}_corpus COMMAND ${fuzzer} ${options} ${inputs})
    add_test(NAME fuzz_${name}
        COMMAND ${fuzzer} ${options} -max_total_time=${QUORRAL_FUZZ_SECONDS} -print_final_stats=1 ${found} ${seeds})
    set_tests_properties(fuzz_${name}_corpus fuzz_${name} PROPERTIES TIMEOUT 600)

    add_custom_target(fuzz-long-${name}
        COMMAND ${fuzzer} ${options} -max_total_time=${QUORRAL_FUZZ_LONG_SECONDS} -print_final_stats=1 ${found} ${seeds}
        USES_TERMINAL
        COMMENT "Fuzzing ${name} for ${QUORRAL_FUZZ_LONG_SECONDS} s")
    add_dependencies(fuzz-long-${name} quorral_fuzz)
    add_dependencies(fuzz-long fuzz-long-${name})
    add_custom_target(fuzz-merge-${name}
        COMMAND ${fuzzer} ${options} -merge=1 ${seeds} ${found}
        USES_TERMINAL
        COMMENT "Merging the inputs of ${found} that add coverage into ${seeds}")
    add_dependencies(fuzz-merge-${name} quorral_fuzz)
    add_dependencies(fuzz-merge fuzz-merge-${name})
endfunction()
