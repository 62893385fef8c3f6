# cmake/CheckLayers.cmake
# Checks the #include lines of the library against its layers (README.md, "Layers"). A layer
# includes the public headers of its own layer and of the layers below it; of private headers,
# only its own and the platform layer's (startup/, which runs every layer's load and unload
# work, those of every layer). A public header includes only public headers of its own layer and
# below. Fails with every include that breaks these rules.
# Usage: cmake -DSOURCE_DIR=<repository> -P cmake/CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)

# The layers below each directory's layer. A source directory not named here fails the check:
# a new area takes its place in the order first.
set(below_platform "")
set(below_heap "")
# Assertions end in the fatal report, which the callbacks layer declares.
set(below_diagnostics callbacks)
set(below_callbacks "")
set(below_strings heap diagnostics callbacks)
set(below_rx strings heap diagnostics callbacks)
set(below_reflection rx strings heap diagnostics callbacks)
set(below_startup reflection rx strings heap diagnostics callbacks)
set(areas platform heap diagnostics callbacks strings rx reflection startup hostdefaults)

# The layer of each public header. "base" holds the types every layer shares, platform/
# included; "umbrella" is the header that includes them all, for hosts.
set(layer_OxFirstExport.h base)
set(layer_OxTypes.h base)
set(layer_OxHeap.h heap)
set(layer_OxHeapInfo.h heap)
set(layer_OxHostMemoryManager.h heap)
set(layer_OxArray.h heap)
set(layer_PerfLog.h diagnostics)
set(layer_OxAssert.h diagnostics)
set(layer_OxStartup.h startup)
set(layer_OxRxCallbacks.h callbacks)
set(layer_OxString.h strings)
set(layer_OxRxObject.h rx)
set(layer_OxRxClass.h rx)
set(layer_OxRxSet.h rx)
set(layer_OxRxDictionary.h rx)
set(layer_OxRxOverrule.h rx)
set(layer_OxRxCopyOnWriteObject.h rx)
set(layer_OxRxTextString.h rx)
set(layer_OxRxValue.h reflection)
set(layer_OxHostDefaults.h hostdefaults)
set(layer_oxfirst.h umbrella)

foreach(area ${areas})
    set(private_${area} ${area} platform)
    set(public_${area} base ${area} ${below_${area}})
endforeach()
set(private_startup ${areas})
list(REMOVE_ITEM private_startup hostdefaults)
set(public_base base)
# liboxhost is a host: every public header is open to it, of private headers only platform/'s.
set(public_hostdefaults base heap diagnostics callbacks strings rx reflection hostdefaults)
set(public_umbrella ${public_hostdefaults})
list(APPEND public_umbrella startup)

set(problems "")

# Checks one include line of `file`, which may include private headers of `privateAreas` and
# public headers of `publicLayers`.
function(check_include file line privateAreas publicLayers)
    if(line MATCHES "^#include[ \t]*<oxfirst/([^>]+)>")
        set(header ${CMAKE_MATCH_1})
        if(NOT DEFINED layer_${header})
            set(problem "${file}: <oxfirst/${header}> has no layer in cmake/CheckLayers.cmake")
        elseif(NOT layer_${header} IN_LIST publicLayers)
            set(problem "${file}: includes <oxfirst/${header}> of the ${layer_${header}} layer")
        endif()
    elseif(line MATCHES "^#include[ \t]*\"([^\"]+)\"")
        set(header ${CMAKE_MATCH_1})
        if(NOT header MATCHES "^([^/]+)/")
            set(problem "${file}: \"${header}\" names no directory")
        elseif(NOT CMAKE_MATCH_1 IN_LIST privateAreas)
            set(problem "${file}: includes \"${header}\"")
        endif()
    endif()
    if(DEFINED problem)
        set(problems ${problems} "${problem}" PARENT_SCOPE)
    endif()
endfunction()

function(include_lines file outVar)
    file(STRINGS ${file} lines REGEX "^#include")
    set(${outVar} "${lines}" PARENT_SCOPE)
endfunction()

file(GLOB entries RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(entry ${entries})
    file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${entry}/*.h ${SOURCE_DIR}/${entry}/*.cpp)
    if(NOT sources OR entry MATCHES "^(include|tests|bench|examples|fuzz|build.*)$")
        continue()
    endif()
    if(NOT entry IN_LIST areas)
        list(APPEND problems "${entry}/: a source directory that is not in the layer order")
        continue()
    endif()
    foreach(file ${sources})
        include_lines(${SOURCE_DIR}/${file} lines)
        foreach(line ${lines})
            check_include(${file} "${line}" "${private_${entry}}" "${public_${entry}}")
        endforeach()
    endforeach()
endforeach()

file(GLOB headers RELATIVE ${SOURCE_DIR}/include/oxfirst ${SOURCE_DIR}/include/oxfirst/*)
foreach(header ${headers})
    if(NOT DEFINED layer_${header})
        list(APPEND problems "include/oxfirst/${header} has no layer in cmake/CheckLayers.cmake")
        continue()
    endif()
    include_lines(${SOURCE_DIR}/include/oxfirst/${header} lines)
    foreach(line ${lines})
        check_include(include/oxfirst/${header} "${line}" "" "${public_${layer_${header}}}")
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "includes against the layer order:\n  ${text}")
endif()
message(STATUS "every include follows the layer order")
