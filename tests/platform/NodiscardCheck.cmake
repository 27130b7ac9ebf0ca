# A Result or Status that the caller drops does not compile: the compiler is given a call that
# drops one and the same call whose result is looked at; the first must be refused for that
# reason and the second accepted. Run as
#   cmake -DCXX=<compiler> -DSRC=<src folder> -DOUT=<folder> -P NodiscardCheck.cmake

foreach(kind Result Status)
    if(kind STREQUAL "Result")
        set(declaration "zeph::Result<int> call();")
    else()
        set(declaration "zeph::Status call();")
    endif()
    file(WRITE "${OUT}/dropped_${kind}.cpp"
         "#include \"platform/Result.h\"\n${declaration}\nvoid caller() { call(); }\n")
    file(WRITE "${OUT}/used_${kind}.cpp"
         "#include \"platform/Result.h\"\n${declaration}\nbool caller() { return call().ok(); }\n")
    foreach(use dropped used)
        execute_process(COMMAND "${CXX}" -std=c++20 -fsyntax-only -Werror -I "${SRC}"
                                "${OUT}/${use}_${kind}.cpp"
                        RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_QUIET)
        if(use STREQUAL "used" AND NOT status EQUAL 0)
            message(FATAL_ERROR "a ${kind} that is looked at was refused:\n${errors}")
        endif()
        if(use STREQUAL "dropped")
            if(status EQUAL 0)
                message(FATAL_ERROR "a dropped ${kind} compiled")
            endif()
            if(NOT errors MATCHES "nodiscard|unused-result|ignoring return value")
                message(FATAL_ERROR "a dropped ${kind} was refused for another reason:\n${errors}")
            endif()
        endif()
    endforeach()
endforeach()
message(STATUS "A dropped Result or Status does not compile")
