# tests/package/exports.cmake
# Fails when a shared library exports anything outside its public interface. Each exported
# symbol must belong to a name that a public header declares with an export macro (the class or
# function its demangled name starts with); liboxfirst may also export the platform functions
# of platform/win.h, but not its test controls (win::test) nor private helpers (win::detail).
# Standard-library instantiations and internal classes fail.
# Usage: cmake -DNM=<nm> -DSOURCE_DIR=<repository> -DOXFIRST=<liboxfirst.so> -DOXHOST=<liboxhost.so>
#        -P tests/package/exports.cmake
cmake_minimum_required(VERSION 3.25)

# The names in the declarations of `files` that carry an export macro: from the macro to the
# end of the declaration or the opening of its body. A class whose name is only mentioned, or
# only forward-declared, in a public header is not among them.
function(exported_names outVar)
    set(names "")
    foreach(file ${ARGN})
        file(READ ${file} text)
        string(REGEX REPLACE "//[^\n]*" "" text "${text}")
        string(REGEX REPLACE "[][]" " " text "${text}")
        string(REGEX MATCHALL "OX(FIRST|HOST|WIN)_API[^;{}]*" declarations "${text}")
        string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" words "${declarations}")
        list(APPEND names ${words})
    endforeach()
    list(REMOVE_DUPLICATES names)
    set(${outVar} "${names}" PARENT_SCOPE)
endfunction()

file(GLOB publicHeaders ${SOURCE_DIR}/include/oxfirst/*.h)
exported_names(publicNames ${publicHeaders})
exported_names(platformNames ${SOURCE_DIR}/platform/win.h)
list(REMOVE_ITEM platformNames test detail)

set(problems "")

# Checks every defined dynamic symbol of `library`; `platformExports` says whether win:: may be
# among them.
function(check_exports library platformExports)
    execute_process(COMMAND ${NM} -D --defined-only -C ${library}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${NM} failed on ${library}: ${errors}")
    endif()
    # Brackets would group list elements: they never matter to the leading name.
    string(REGEX REPLACE "[][;]" "_" output "${output}")
    string(REPLACE "\n" ";" lines "${output}")
    get_filename_component(name ${library} NAME)
    set(count 0)
    foreach(line ${lines})
        if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
            continue()
        endif()
        math(EXPR count "${count} + 1")
        set(symbol "${CMAKE_MATCH_1}")
        string(REGEX REPLACE "^((typeinfo name|typeinfo|vtable|VTT|construction vtable|guard variable) for |(non-virtual|virtual|covariant return) thunk to )+"
               "" qualified "${symbol}")
        # The leading name, the name after it when "::" follows, and the character after those.
        if(NOT qualified MATCHES "^([A-Za-z_][A-Za-z0-9_]*)(::([A-Za-z_][A-Za-z0-9_]*))?(.?)")
            set(allowed FALSE)
        else()
            set(leading "${CMAKE_MATCH_1}")
            set(member "${CMAKE_MATCH_3}")
            set(next "${CMAKE_MATCH_4}")
            if(next STREQUAL " " AND member STREQUAL "")
                # A return type first: only template instantiations are demangled so.
                set(allowed FALSE)
            elseif(leading STREQUAL "win")
                set(allowed ${platformExports})
                if(NOT member IN_LIST platformNames)
                    set(allowed FALSE)
                endif()
            elseif(leading MATCHES "^(std|__gnu_cxx|__cxxabiv1)$")
                set(allowed FALSE)
            elseif(leading IN_LIST publicNames)
                set(allowed TRUE)
            else()
                set(allowed FALSE)
            endif()
        endif()
        if(NOT allowed)
            list(APPEND problems "${name}: ${symbol}")
        endif()
    endforeach()
    if(count EQUAL 0)
        list(APPEND problems "${name}: no exported symbol read (is ${NM} the right tool?)")
    endif()
    set(problems "${problems}" PARENT_SCOPE)
endfunction()

check_exports(${OXFIRST} TRUE)
check_exports(${OXHOST} FALSE)

if(problems)
    list(LENGTH problems problemCount)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "${problemCount} exported symbols outside the public interface:\n  ${text}")
endif()
message(STATUS "every exported symbol belongs to the public interface")
