# Debian packages, one per install component: `cpack -G DEB` in a build
# configured with the prefix /usr (scripts/package.sh does both).
#
# The package list is whatever install components exist when the top-level
# directory has been read, so parts that add install rules under one of the
# names below are packaged without any change here; a component that has no
# install rules in this build (the viewer without Qt, say) gives no package.

set(PLIX_PACKAGE_MAINTAINER "PLIX developers <plix-devel@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")

# Component, package section, synopsis, then the long description. Binding by
# file name at run time gives no shared-library dependency, so every package
# that loads the codec names the exact runtime release it was built with.
set(PLIX_PACKAGE_libplix0_SECTION libs)
set(PLIX_PACKAGE_libplix0_DESCRIPTION "PLIX lossy image codec - shared library
libPLIX.so holds the whole PLIX codec: a fixed-point DCT, fixed quantisation
matrix sets and Huffman tables, with BMP import and export. Programs load it
at run time by the name libPLIX.so, which this package therefore carries.")

set(PLIX_PACKAGE_libplixcodec1_SECTION libs)
set(PLIX_PACKAGE_libplixcodec1_DESCRIPTION "PLIX lossy image codec - library with caller buffers
libplixcodec decodes PLIX pictures into the caller's buffers in RGB, RGBA,
BGR or BGRA with any row pitch, and encodes them from there into memory,
with a pixel limit checked before anything is allocated. Its incremental
decoder and encoder work a strip of rows at a time, for bytes that arrive
in pieces and pictures too large to hold.")

set(PLIX_PACKAGE_libplix-dev_SECTION libdevel)
set(PLIX_PACKAGE_libplix-dev_DEPENDS
  "libplix0 (= ${PROJECT_VERSION}), libplixcodec1 (= ${PROJECT_VERSION})")
set(PLIX_PACKAGE_libplix-dev_DESCRIPTION "PLIX lossy image codec - development files
The C headers plix/plix.h and plix/codec.h, a CMake package
(find_package(PLIX): PLIX::PLIX and PLIX::plixcodec) and pkg-config files
(plix, plixcodec) for programs that use libPLIX.so, linked or loaded at run
time, or libplixcodec.so.")

set(PLIX_PACKAGE_plix-tools_SECTION graphics)
set(PLIX_PACKAGE_plix-tools_DEPENDS "libplix0 (= ${PROJECT_VERSION})")
set(PLIX_PACKAGE_plix-tools_DESCRIPTION "PLIX lossy image codec - command-line tools
plixconv converts one BMP picture (16, 24 or 32 bits per pixel) to a PLIX
file, or one PLIX file to a 24-bit BMP picture, with the compression level,
quantisation matrix set and colour mode chosen by options.")

set(PLIX_PACKAGE_plixref_SECTION graphics)
set(PLIX_PACKAGE_plixref_DEPENDS "libplix0 (= ${PROJECT_VERSION}), libplixcodec1 (= ${PROJECT_VERSION})")
set(PLIX_PACKAGE_plixref_DESCRIPTION "PLIX lossy image codec - picture viewer
Plixref opens BMP and PLIX pictures, shows them at 50, 100 or 200 percent,
saves a BMP picture as a PLIX file with the settings chosen in a dialog and
a PLIX picture as a 24-bit BMP file.")

set(PLIX_PACKAGE_qt6-image-plugin-plix_SECTION graphics)
set(PLIX_PACKAGE_qt6-image-plugin-plix_DEPENDS "libplixcodec1 (= ${PROJECT_VERSION})")
set(PLIX_PACKAGE_qt6-image-plugin-plix_DESCRIPTION "PLIX lossy image codec - Qt 6 image format plugin
Lets every Qt 6 application read and write PLIX pictures through
QImageReader and QImageWriter.")

set(PLIX_PACKAGE_qt5-image-plugin-plix_SECTION graphics)
set(PLIX_PACKAGE_qt5-image-plugin-plix_DEPENDS "libplixcodec1 (= ${PROJECT_VERSION})")
set(PLIX_PACKAGE_qt5-image-plugin-plix_DESCRIPTION "PLIX lossy image codec - Qt 5 image format plugin
Lets every Qt 5 application read and write PLIX pictures through
QImageReader and QImageWriter: image viewers such as LXImage-Qt and
Gwenview, and thumbnailers built on Qt 5.")

set(PLIX_PACKAGE_gdk-pixbuf-loader-plix_SECTION graphics)
set(PLIX_PACKAGE_gdk-pixbuf-loader-plix_DEPENDS "libplixcodec1 (= ${PROJECT_VERSION})")
set(PLIX_PACKAGE_gdk-pixbuf-loader-plix_RECOMMENDS "shared-mime-info, libgdk-pixbuf2.0-bin")
set(PLIX_PACKAGE_gdk-pixbuf-loader-plix_DESCRIPTION "PLIX lossy image codec - gdk-pixbuf loader and thumbnailer
Lets GTK applications open PLIX pictures and file managers show their
thumbnails. It also registers the MIME type image/x-plix.")

set(PLIX_PACKAGE_python3-plix_SECTION python)
set(PLIX_PACKAGE_python3-plix_ARCHITECTURE all)
set(PLIX_PACKAGE_python3-plix_DEPENDS
  "libplixcodec1 (= ${PROJECT_VERSION}), python3:any (>= 3.9), python3-numpy")
set(PLIX_PACKAGE_python3-plix_RECOMMENDS "python3-pil")
set(PLIX_PACKAGE_python3-plix_SUGGESTS "python3-distributed")
set(PLIX_PACKAGE_python3-plix_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/debian/python3-plix/postinst
  ${PROJECT_SOURCE_DIR}/cmake/debian/python3-plix/prerm)
set(PLIX_PACKAGE_python3-plix_DESCRIPTION "PLIX lossy image codec - Python 3 package
The module plix decodes PLIX pictures into numpy arrays and encodes arrays
with any strides, through libplixcodec, letting go of the GIL while the
library works. It registers a Pillow plugin when Pillow is present, and
python3 -m plix.batch converts whole folder trees on a Dask cluster.")

set(PLIX_DEFAULT_DEPENDS "libplix0 (= ${PROJECT_VERSION})")
set(PLIX_DEFAULT_DESCRIPTION "PLIX lossy image codec
Part of the PLIX codec and its programs.")

function(plix_configure_packages)
  get_cmake_property(components COMPONENTS)
  if("Unspecified" IN_LIST components)
    message(WARNING "Some install rules name no COMPONENT; their files are not packaged.")
    list(REMOVE_ITEM components Unspecified)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME plix)
  set(CPACK_PACKAGE_VENDOR "PLIX developers")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "${PLIX_PACKAGE_MAINTAINER}")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL ${components})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PLIX_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SOURCE plix)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Packages that link libPLIX.so.0 find it, and its shlibs entry, among the
  # packages being built.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  # A part that links libPLIX.so.0 (rather than loading it by name) finds it
  # in the runtime package's staging folder, a sibling of its own.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "../libplix0${CMAKE_INSTALL_FULL_LIBDIR}" "../libplixcodec1${CMAKE_INSTALL_FULL_LIBDIR}")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Triggers, not maintainer scripts, refresh the loader cache.
  set(CPACK_DEBIAN_LIBPLIX0_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/libplix0/triggers)
  # Each symbol with the release that brought it.
  set(CPACK_DEBIAN_LIBPLIXCODEC1_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/debian/libplixcodec1/triggers
    ${PROJECT_SOURCE_DIR}/cmake/debian/libplixcodec1/symbols)

  # Debian's own files in each package: copyright, changelog, gzipped man
  # pages and lintian overrides (cmake/DebianFixups.cmake).
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in
    ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianFixups.cmake)
  set(CPACK_PLIX_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
  set(CPACK_PLIX_CHANGELOG ${PROJECT_BINARY_DIR}/debian/changelog)
  set(CPACK_PLIX_PACKAGES "")

  foreach(component IN LISTS components)
    string(TOUPPER "${component}" up)
    set(CPACK_DEBIAN_${up}_PACKAGE_NAME "${component}")
    list(APPEND CPACK_PLIX_PACKAGES "${component}")
    if(DEFINED PLIX_PACKAGE_${component}_DESCRIPTION)
      set(CPACK_DEBIAN_${up}_DESCRIPTION "${PLIX_PACKAGE_${component}_DESCRIPTION}")
    else()
      set(CPACK_DEBIAN_${up}_DESCRIPTION "${PLIX_DEFAULT_DESCRIPTION}")
    endif()
    if(DEFINED PLIX_PACKAGE_${component}_SECTION)
      set(CPACK_DEBIAN_${up}_PACKAGE_SECTION "${PLIX_PACKAGE_${component}_SECTION}")
    endif()
    if(DEFINED PLIX_PACKAGE_${component}_DEPENDS)
      set(CPACK_DEBIAN_${up}_PACKAGE_DEPENDS "${PLIX_PACKAGE_${component}_DEPENDS}")
    elseif(NOT component MATCHES "^(libplix0|libplixcodec1)$")
      set(CPACK_DEBIAN_${up}_PACKAGE_DEPENDS "${PLIX_DEFAULT_DEPENDS}")
    endif()
    if(DEFINED PLIX_PACKAGE_${component}_RECOMMENDS)
      set(CPACK_DEBIAN_${up}_PACKAGE_RECOMMENDS "${PLIX_PACKAGE_${component}_RECOMMENDS}")
    endif()
    if(DEFINED PLIX_PACKAGE_${component}_SUGGESTS)
      set(CPACK_DEBIAN_${up}_PACKAGE_SUGGESTS "${PLIX_PACKAGE_${component}_SUGGESTS}")
    endif()
    if(DEFINED PLIX_PACKAGE_${component}_ARCHITECTURE)
      set(CPACK_DEBIAN_${up}_PACKAGE_ARCHITECTURE "${PLIX_PACKAGE_${component}_ARCHITECTURE}")
    endif()
    if(DEFINED PLIX_PACKAGE_${component}_CONTROL_EXTRA)
      set(CPACK_DEBIAN_${up}_PACKAGE_CONTROL_EXTRA "${PLIX_PACKAGE_${component}_CONTROL_EXTRA}")
    endif()
  endforeach()

  include(CPack)
endfunction()

# Deferred to the end of the top-level directory, after every install rule.
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL plix_configure_packages)
