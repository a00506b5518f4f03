# Included by cmake/packaging.cmake and examples/CMakeLists.txt.
#
# Every identifier comes from the IDL, so the manifest, the installer and the
# library cannot name different classes or interfaces. Sets TARNWICK_LIBID
# and TARNWICK_TLB_VERSION (the type library's, "1.2"); TARNWICK_CLASSES,
# and for each class C: TARNWICK_CLSID_C (class identifier);
# TARNWICK_INTERFACES, the dual interfaces _I by the name I, and for each:
# TARNWICK_IID_I (so TARNWICK_IID_C is the 1.0 interface _C of class C); all
# identifiers as {UPPER-CASE} text.
file(READ ${CMAKE_SOURCE_DIR}/library/Tarnwick.idl tarnwick_idl_text)
# Square brackets would keep a CMake list from splitting: drop them first.
string(REGEX REPLACE "[][]" " " tarnwick_idl_text "${tarnwick_idl_text}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/library/Tarnwick.idl)
string(REGEX MATCHALL
  "uuid\\(([0-9A-Fa-f-]+)\\)[^{;]*(library|interface|coclass)[ \t\r\n]+[A-Za-z_0-9]+"
  tarnwick_idl_types "${tarnwick_idl_text}")
set(TARNWICK_CLASSES)
set(TARNWICK_INTERFACES)
set(TARNWICK_WIXL_DEFINES)
foreach(entry IN LISTS tarnwick_idl_types)
  string(REGEX MATCH "uuid\\(([0-9A-Fa-f-]+)\\)" _ "${entry}")
  string(TOUPPER "{${CMAKE_MATCH_1}}" guid)
  string(REGEX MATCH "version\\(([0-9]+\\.[0-9]+)\\)" _ "${entry}")
  set(version ${CMAKE_MATCH_1})
  string(REGEX MATCH "(library|interface|coclass)[ \t\r\n]+([A-Za-z_0-9]+)$" _ "${entry}")
  set(kind ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  if(kind STREQUAL "library")
    set(TARNWICK_LIBID ${guid})
    set(TARNWICK_TLB_VERSION ${version})
    list(APPEND TARNWICK_WIXL_DEFINES -D LibId=${guid} -D TlbVersion=${version})
  elseif(kind STREQUAL "interface")
    string(SUBSTRING ${name} 1 -1 short)
    set(TARNWICK_IID_${short} ${guid})
    list(APPEND TARNWICK_INTERFACES ${short})
  else()
    set(TARNWICK_CLSID_${name} ${guid})
    list(APPEND TARNWICK_CLASSES ${name})
    list(APPEND TARNWICK_WIXL_DEFINES -D Clsid_${name}=${guid})
  endif()
endforeach()
if(NOT TARNWICK_LIBID OR NOT TARNWICK_TLB_VERSION)
  message(FATAL_ERROR "packaging: no library identifier and version in Tarnwick.idl")
endif()
foreach(class IN LISTS TARNWICK_CLASSES)
  if(NOT TARNWICK_IID_${class})
    message(FATAL_ERROR "packaging: class ${class} has no interface _${class} in Tarnwick.idl")
  endif()
endforeach()
string(REGEX MATCH "helpstring\\(\"([^\"]*)\"\\)" _ "${tarnwick_idl_text}")
set(TARNWICK_LIB_HELP "${CMAKE_MATCH_1}")

# The identity of the private assembly "Tarnwick" (Tarnwick.manifest), which
# an application's manifest must name exactly: four-part version, and the
# processor architecture of the target. TARNWICK_PLATFORM names the
# target's packages.
# The project's version unless -DTARNWICK_VERSION= names another (the
# packages and the assembly only; the binaries' own version blocks stay as
# they are). Not kept in the cache otherwise, so a build folder follows the
# project's version when it changes.
if(NOT TARNWICK_VERSION)
  set(TARNWICK_VERSION ${PROJECT_VERSION})
endif()
if(NOT TARNWICK_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "TARNWICK_VERSION must be major.minor.build, not \"${TARNWICK_VERSION}\"")
endif()
set(TARNWICK_ASSEMBLY_VERSION ${TARNWICK_VERSION}.0)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL ARM64)
  set(TARNWICK_ASSEMBLY_ARCH arm64)
  set(TARNWICK_PLATFORM arm64)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TARNWICK_ASSEMBLY_ARCH amd64)
  set(TARNWICK_PLATFORM win64)
else()
  set(TARNWICK_ASSEMBLY_ARCH x86)
  set(TARNWICK_PLATFORM win32)
endif()
