# Packages of the installed files: `cpack -G DEB` or `cpack -G TGZ` in the build
# folder. Both hold usr/bin/quiltview (stripped), usr/share/man/man1/quiltview.1.gz,
# usr/share/doc/quiltview/copyright (the LICENSE) and usr/share/doc/quiltview/README.txt
# (docs/README.linux.txt, the users' README).
# A Windows build makes quiltview-VERSION-win64.zip (`cpack -G ZIP`): a folder
# holding quiltview.exe, README.txt (docs/README.windows.txt) and LICENSE.txt, both
# with CR LF.
set(CPACK_PACKAGE_NAME quiltview)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "quiltview developers <quiltview@example.org>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "quiltview reads any file with a lenient XML reader that rejects nothing,
prints a drawing of the document's tree on the standard output and writes
one self-contained HTML page in which every element, non-blank text and
unresolved reference is a coloured box; clicking a box's label shows or
hides its children.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # The tarball unpacks to usr/..., ready for `tar -xzf FILE -C /` or any prefix.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies are read off the binary by dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)

if(QUILTVIEW_STATIC)
  # `cpack --config CPackStaticConfig.cmake` makes the static release archive,
  # quiltview-VERSION-linux-PROCESSOR-static.tar.gz: the settings above, but only
  # the files of the component static, in a folder of the archive's name.
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/CPackStaticConfig.cmake @ONLY CONTENT [=[
include("@PROJECT_BINARY_DIR@/CPackConfig.cmake")
set(CPACK_GENERATOR TGZ)
set(CPACK_INSTALL_CMAKE_PROJECTS "@PROJECT_BINARY_DIR@;quiltview;static;/")
set(CPACK_PACKAGING_INSTALL_PREFIX "")
set(CPACK_PACKAGE_FILE_NAME "quiltview-@PROJECT_VERSION@-linux-@CMAKE_SYSTEM_PROCESSOR@-static")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
]=])
endif()
