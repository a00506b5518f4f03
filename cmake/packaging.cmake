# Install rules, the ZIP package (CPack) and the Windows Installer package
# (wixl) of one target.
#
#   cmake --install <build> --prefix <dir>   the SDK layout below
#   cpack --config <build>/CPackConfig.cmake Tarnwick-<version>-win32.zip / -win64.zip / -arm64.zip
#   cmake --build <build> --target msi       Tarnwick-<version>-win32.msi / -win64.msi
#
# Layout:
#   bin/       Tarnwick.dll, Tarnwick.manifest, Pelmora.exe
#   include/   Tarnwick.idl, Tarnwick.h and Tarnwick_i.c (generated from the IDL)
#   examples/  VBScript, JScript, PowerShell and C++ samples
#   docs/      reference.md, README.md
#   powershell/Tarnwick/  the PowerShell module (the MSI puts it into
#              Program Files\WindowsPowerShell\Modules\Tarnwick)

include(${CMAKE_CURRENT_LIST_DIR}/identifiers.cmake)
# wixl makes packages for x86 and x64 only: ARM64 has no MSI.
if(TARNWICK_PLATFORM STREQUAL win64)
  set(TARNWICK_MSI_ARCH x64)
  set(TARNWICK_WIN64 yes)
elseif(TARNWICK_PLATFORM STREQUAL win32)
  set(TARNWICK_MSI_ARCH x86)
  set(TARNWICK_WIN64 no)
endif()
set(TARNWICK_PACKAGE_NAME Tarnwick-${TARNWICK_VERSION}-${TARNWICK_PLATFORM})
set(TARNWICK_GENERATED_DIR ${CMAKE_BINARY_DIR}/library/generated)

# --- install rules -----------------------------------------------------------

# Installing and packing take what the build made; they do not build (the
# package test must not start a build of its own).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS Tarnwick RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib COMPONENT importlib EXCLUDE_FROM_ALL)
if(TARGET Pelmora)
  install(TARGETS Pelmora RUNTIME DESTINATION bin)
endif()
install(FILES
  ${CMAKE_SOURCE_DIR}/library/Tarnwick.idl
  ${TARNWICK_GENERATED_DIR}/Tarnwick.h
  ${TARNWICK_GENERATED_DIR}/Tarnwick_i.c
  DESTINATION include)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples
  FILES_MATCHING PATTERN "*.vbs" PATTERN "*.js" PATTERN "*.ps1" PATTERN "*.cpp" PATTERN "*.md")
install(FILES ${CMAKE_SOURCE_DIR}/docs/reference.md ${CMAKE_SOURCE_DIR}/README.md
  DESTINATION docs)

# The PowerShell module, as the packages carry it: powershell/Tarnwick of
# the sources with the library's version as its ModuleVersion, in
# <build>/powershell/Tarnwick (which the PowerShell tests import).
set(TARNWICK_PS_MODULE_FILES Tarnwick.psd1 Tarnwick.psm1 Registry.ps1 Machine.ps1 Tarnwick.Format.ps1xml)
set(TARNWICK_PS_MODULE ${CMAKE_BINARY_DIR}/powershell/Tarnwick)
set(ps_source ${CMAKE_SOURCE_DIR}/powershell/Tarnwick)
foreach(file IN LISTS TARNWICK_PS_MODULE_FILES)
  if(file STREQUAL Tarnwick.psd1)
    file(READ ${ps_source}/${file} manifest)
    string(REGEX MATCHALL "\n    ModuleVersion = '[^']*'" versions "${manifest}")
    list(LENGTH versions count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "${ps_source}/${file}: no single ModuleVersion line to write the version into")
    endif()
    string(REGEX REPLACE "\n    ModuleVersion = '[^']*'" "\n    ModuleVersion = '${TARNWICK_VERSION}'"
      manifest "${manifest}")
    file(WRITE ${TARNWICK_PS_MODULE}/${file}.new "${manifest}")
    file(COPY_FILE ${TARNWICK_PS_MODULE}/${file}.new ${TARNWICK_PS_MODULE}/${file} ONLY_IF_DIFFERENT)
    file(REMOVE ${TARNWICK_PS_MODULE}/${file}.new)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ps_source}/${file})
  else()
    configure_file(${ps_source}/${file} ${TARNWICK_PS_MODULE}/${file} COPYONLY)
  endif()
  list(APPEND TARNWICK_PS_MODULE_PATHS ${TARNWICK_PS_MODULE}/${file})
endforeach()
install(FILES ${TARNWICK_PS_MODULE_PATHS} DESTINATION powershell/Tarnwick)

# --- ZIP package -------------------------------------------------------------

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tarnwick)
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_VERSION ${TARNWICK_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${TARNWICK_PACKAGE_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
# Same files give the same archive: after CPack has packed the staged
# files, they are packed once more with sorted names, one fixed time and
# fixed modes.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TARNWICK_SOURCE_DATE_EPOCH 946684800)  # 2000-01-01 00:00:00 UTC, for the MSI's times
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging-repack.cmake.in
  ${CMAKE_BINARY_DIR}/packaging-repack.cmake @ONLY)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/packaging-repack.cmake)
include(CPack)

# --- assembly manifest -------------------------------------------------------

# Tarnwick.manifest, beside Tarnwick.dll: the library as a private assembly,
# for applications that use it without registering it (their own manifest
# names the assembly "Tarnwick").
set(TARNWICK_MARSHALLER {00020424-0000-0000-C000-000000000046})
set(TARNWICK_MANIFEST_CLASSES "")
set(TARNWICK_MANIFEST_INTERFACES "")
foreach(class IN LISTS TARNWICK_CLASSES)
  string(APPEND TARNWICK_MANIFEST_CLASSES
    "    <comClass clsid=\"${TARNWICK_CLSID_${class}}\" progid=\"TarnwickDLL.${class}\"\n"
    "              threadingModel=\"Apartment\" tlbid=\"${TARNWICK_LIBID}\" description=\"${class}\"/>\n")
endforeach()
foreach(iface IN LISTS TARNWICK_INTERFACES)
  string(APPEND TARNWICK_MANIFEST_INTERFACES
    "  <comInterfaceExternalProxyStub name=\"_${iface}\" iid=\"${TARNWICK_IID_${iface}}\"\n"
    "                                 proxyStubClsid32=\"${TARNWICK_MARSHALLER}\" tlbid=\"${TARNWICK_LIBID}\"/>\n")
endforeach()
set(TARNWICK_MANIFEST ${CMAKE_BINARY_DIR}/library/Tarnwick.manifest)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Tarnwick.manifest.in ${TARNWICK_MANIFEST} @ONLY NEWLINE_STYLE CRLF)
install(FILES ${TARNWICK_MANIFEST} DESTINATION bin)

# --- Windows Installer package -----------------------------------------------

# Product, package and component codes: fixed for one version and one
# platform (name-based), so a rebuild gives the same codes.
set(ns 6F1C2A4E-55B0-4C1D-9E3B-7A9D2C804F11)
string(UUID upgrade_code NAMESPACE ${ns} NAME "upgrade-${TARNWICK_PLATFORM}" TYPE SHA1 UPPER)
string(UUID product_code NAMESPACE ${ns} NAME "product-${TARNWICK_VERSION}-${TARNWICK_PLATFORM}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${ns} NAME "package-${TARNWICK_VERSION}-${TARNWICK_PLATFORM}" TYPE SHA1 UPPER)
foreach(i 1 2 3 4 5)
  string(UUID component_${i} NAMESPACE ${ns} NAME "component-${i}-${TARNWICK_PLATFORM}" TYPE SHA1 UPPER)
  list(APPEND TARNWICK_WIXL_DEFINES -D ComponentGuid${i}={${component_${i}}})
endforeach()

find_program(WIXL wixl)
set(TARNWICK_MSI ${CMAKE_BINARY_DIR}/packages/${TARNWICK_PACKAGE_NAME}.msi)
if(WIXL AND TARNWICK_MSI_ARCH)
  # wixl takes the files from the folder it runs in.
  set(msi_stage ${CMAKE_BINARY_DIR}/msi-stage)
  file(MAKE_DIRECTORY ${msi_stage}/win32)
  set(msi_files $<TARGET_FILE:Tarnwick> ${TARNWICK_MANIFEST} ${CMAKE_SOURCE_DIR}/docs/reference.md)
  set(msi_targets Tarnwick)
  set(msi_stage_files Tarnwick.dll Tarnwick.manifest reference.md)
  set(msi_stage_win32 ${CMAKE_COMMAND} -E true)
  # The module's files, in a folder of their own.
  foreach(file IN LISTS TARNWICK_PS_MODULE_FILES)
    list(APPEND msi_stage_files powershell/${file})
  endforeach()
  if(TARNWICK_WIN64)
    # The 64-bit package carries the 32-bit library too, for the 32-bit
    # hosts of a 64-bit machine: the same sources built with the i686
    # toolchain in a folder of this build (only the library and its
    # manifest; the build is reproducible, so these are the bytes of an
    # i686 build folder).
    include(ExternalProject)
    set(win32_build ${CMAKE_BINARY_DIR}/win32)
    set(TARNWICK_DLL32 ${win32_build}/library/Tarnwick.dll)
    ExternalProject_Add(tarnwick_win32
      SOURCE_DIR ${CMAKE_SOURCE_DIR}
      BINARY_DIR ${win32_build}
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-i686.cmake
                 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DBUILD_TESTING=OFF
                 -DTARNWICK_VERSION=${TARNWICK_VERSION} -DWIDL=${WIDL}
      # One job: the outer make's job server does not reach this one.
      BUILD_COMMAND ${CMAKE_COMMAND} -E env MAKEFLAGS=
                    ${CMAKE_COMMAND} --build <BINARY_DIR> --target Tarnwick
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${TARNWICK_DLL32} ${win32_build}/library/Tarnwick.manifest
      INSTALL_COMMAND "")
    list(APPEND msi_targets tarnwick_win32)
    set(msi_stage_win32 ${CMAKE_COMMAND} -E copy ${TARNWICK_DLL32}
      ${win32_build}/library/Tarnwick.manifest ${msi_stage}/win32)
    list(APPEND msi_stage_files win32/Tarnwick.dll win32/Tarnwick.manifest)
  endif()
  set(msi_pelmora -D HavePelmora=no)
  if(TARGET Pelmora)
    list(APPEND msi_files $<TARGET_FILE:Pelmora>)
    list(APPEND msi_targets Pelmora)
    set(msi_pelmora -D HavePelmora=yes)
    list(APPEND msi_stage_files Pelmora.exe)
  endif()
  # The entries that name classes and interfaces, from the IDL's lists.
  set(TARNWICK_WXI_INTERFACES "")
  set(TARNWICK_WXI_CLASSES "")
  set(progids "<Include>\n")
  set(hkcr "  <RegistryValue Root=\"HKCR\"")
  foreach(iface IN LISTS TARNWICK_INTERFACES)
    set(key "Key=\"Interface\\${TARNWICK_IID_${iface}}")
    string(APPEND TARNWICK_WXI_INTERFACES
      "${hkcr} ${key}\" Type=\"string\" Value=\"_${iface}\"/>\n"
      "${hkcr} ${key}\\ProxyStubClsid\" Type=\"string\" Value=\"$(var.Marshaller)\"/>\n"
      "${hkcr} ${key}\\ProxyStubClsid32\" Type=\"string\" Value=\"$(var.Marshaller)\"/>\n"
      "${hkcr} ${key}\\TypeLib\" Type=\"string\" Value=\"$(var.LibId)\"/>\n"
      "${hkcr} ${key}\\TypeLib\" Name=\"Version\" Type=\"string\" Value=\"$(var.TlbVersion)\"/>\n")
  endforeach()
  foreach(class IN LISTS TARNWICK_CLASSES)
    set(key "Key=\"CLSID\\$(var.Clsid_${class})")
    string(APPEND TARNWICK_WXI_CLASSES
      "${hkcr} ${key}\" Type=\"string\" Value=\"${class}\"/>\n"
      "${hkcr} ${key}\\InprocServer32\" Type=\"string\" Value=\"[#$(var.LibraryFile)]\"/>\n"
      "${hkcr} ${key}\\InprocServer32\" Name=\"ThreadingModel\" Type=\"string\" Value=\"Apartment\"/>\n"
      "${hkcr} ${key}\\ProgID\" Type=\"string\" Value=\"TarnwickDLL.${class}\"/>\n"
      "${hkcr} ${key}\\TypeLib\" Type=\"string\" Value=\"$(var.LibId)\"/>\n"
      "${hkcr} ${key}\\Version\" Type=\"string\" Value=\"$(var.TlbVersion)\"/>\n")
    string(APPEND progids
      "${hkcr} Key=\"TarnwickDLL.${class}\" Type=\"string\" Value=\"${class}\"/>\n"
      "${hkcr} Key=\"TarnwickDLL.${class}\\CLSID\" Type=\"string\" Value=\"$(var.Clsid_${class})\"/>\n")
  endforeach()
  set(wxi_dir ${CMAKE_BINARY_DIR}/installer)
  configure_file(${CMAKE_SOURCE_DIR}/installer/Registration.wxi.in ${wxi_dir}/Registration.wxi @ONLY)
  file(WRITE ${wxi_dir}/ProgIDs.wxi.new "${progids}</Include>\n")
  file(COPY_FILE ${wxi_dir}/ProgIDs.wxi.new ${wxi_dir}/ProgIDs.wxi ONLY_IF_DIFFERENT)
  # The module's files, the manifest as the component's key.
  set(module_files "<Include>\n")
  foreach(file IN LISTS TARNWICK_PS_MODULE_FILES)
    string(MAKE_C_IDENTIFIER "Module_${file}" id)
    set(key "")
    if(file STREQUAL Tarnwick.psd1)
      set(key " KeyPath=\"yes\"")
    endif()
    string(APPEND module_files "  <File Id=\"${id}\" Name=\"${file}\" Source=\"powershell/${file}\"${key}/>\n")
  endforeach()
  file(WRITE ${wxi_dir}/ModuleFiles.wxi.new "${module_files}</Include>\n")
  file(COPY_FILE ${wxi_dir}/ModuleFiles.wxi.new ${wxi_dir}/ModuleFiles.wxi ONLY_IF_DIFFERENT)

  # One script makes the package from a folder of the files it installs,
  # for this build and for tools/sign.sh's signed copies alike.
  string(JOIN " " msi_stage_list ${msi_stage_files})
  string(JOIN " " msi_defines ${msi_pelmora} ${TARNWICK_WIXL_DEFINES})
  set(TARNWICK_MSI_SCRIPT ${CMAKE_BINARY_DIR}/packaging-msi.sh)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging-msi.sh.in ${TARNWICK_MSI_SCRIPT} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)
  add_custom_command(
    OUTPUT ${TARNWICK_MSI}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packages
    COMMAND ${CMAKE_COMMAND} -E copy ${msi_files} ${msi_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msi_stage}/powershell
    COMMAND ${CMAKE_COMMAND} -E copy ${TARNWICK_PS_MODULE_PATHS} ${msi_stage}/powershell
    COMMAND ${msi_stage_win32}
    COMMAND ${TARNWICK_MSI_SCRIPT} ${msi_stage} ${TARNWICK_MSI}
    DEPENDS ${CMAKE_SOURCE_DIR}/installer/Tarnwick.wxs ${wxi_dir}/Registration.wxi
            ${wxi_dir}/ProgIDs.wxi ${wxi_dir}/ModuleFiles.wxi
            ${CMAKE_SOURCE_DIR}/docs/reference.md
            ${TARNWICK_MANIFEST}
            ${TARNWICK_PS_MODULE_PATHS}
            ${CMAKE_CURRENT_LIST_DIR}/packaging-msi-stamp.py
            ${CMAKE_CURRENT_LIST_DIR}/packaging-msi.sh.in
            ${msi_targets}
    WORKING_DIRECTORY ${msi_stage}
    COMMENT "wixl: ${TARNWICK_PACKAGE_NAME}.msi"
    VERBATIM)
  # Built with everything else when the tests are built, since they install it.
  if(BUILD_TESTING)
    add_custom_target(msi ALL DEPENDS ${TARNWICK_MSI})
  else()
    add_custom_target(msi DEPENDS ${TARNWICK_MSI})
  endif()
  set_target_properties(msi PROPERTIES
    TARNWICK_MSI_FILE ${TARNWICK_MSI}
    TARNWICK_MSI_PRODUCT_CODE {${product_code}}
    TARNWICK_MSI_DLL32 "${TARNWICK_DLL32}")
elseif(BUILD_TESTING AND TARNWICK_MSI_ARCH)
  message(WARNING "wixl not found (tools/setup.sh installs it): no msi target")
endif()
