# What an install holds (cmake --install, and the .deb that CPack makes from
# the same rules): the oru program and its image commands, the native
# module, the OpenFX bundle, the GEGL and frei0r plug-ins (doors/CMakeLists.txt
# installs those), the man page and the documents. Nothing of the tests,
# benchmarks, fuzzers or the raw frame host.
include(GNUInstallDirs)

set(ORU_INSTALL_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/oru)
set(ORU_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/oru)

# The installed program finds the module from its own folder, wherever the
# prefix is: the path from the program's folder to the module's.
file(RELATIVE_PATH ORU_INSTALLED_MODULE_DIR
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/oru)
target_compile_definitions(oru PRIVATE ORU_INSTALLED_MODULE_DIR="${ORU_INSTALLED_MODULE_DIR}")

install(TARGETS oru RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS oru_module oru_images LIBRARY DESTINATION ${ORU_INSTALL_MODULE_DIR})
# The Python module (python/CMakeLists.txt), built for one python3 version.
if(TARGET oru_python)
  install(TARGETS oru_python LIBRARY DESTINATION ${ORU_INSTALL_PYTHON_DIR})
  math(EXPR ORU_PYTHON_NEXT "${ORU_PYTHON_MINOR} + 1")
  # CPack adds the libraries' packages (shlibdeps) to these.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${ORU_PYTHON_MAJOR}.${ORU_PYTHON_MINOR}~), \
python3 (<< ${ORU_PYTHON_MAJOR}.${ORU_PYTHON_NEXT}), python3-numpy")
endif()
# The OpenFX bundle (openfx/CMakeLists.txt), where OpenFX hosts look.
if(TARGET oru_ofx)
  install(TARGETS oru_ofx LIBRARY DESTINATION ${ORU_OFX_BINARY_DIR})
endif()
install(FILES README.md LICENSE examples/sample.png DESTINATION ${ORU_INSTALL_DOC_DIR})
install(FILES docs/before-after.png DESTINATION ${ORU_INSTALL_DOC_DIR}/docs)
# The farm job scripts the README quotes, ready to copy.
install(PROGRAMS examples/farm/smooth.sbatch examples/farm/smooth-parallel.sh
  DESTINATION ${ORU_INSTALL_DOC_DIR}/examples/farm)

# The licence as a Debian copyright file (machine-readable format).
file(READ ${CMAKE_SOURCE_DIR}/LICENSE ORU_LICENSE_TEXT)
string(STRIP "${ORU_LICENSE_TEXT}" ORU_LICENSE_TEXT)
string(REGEX REPLACE "\n\n" "\n.\n" ORU_LICENSE_TEXT "${ORU_LICENSE_TEXT}")
string(REPLACE "\n" "\n " ORU_LICENSE_TEXT "${ORU_LICENSE_TEXT}")
file(WRITE ${CMAKE_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Oru

Files: *
Copyright: 2026 the Oru developers
License: MIT
 ${ORU_LICENSE_TEXT}
")
install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${ORU_INSTALL_DOC_DIR})

# The man page, from the program's own help (help2man).
find_program(ORU_HELP2MAN help2man)
if(ORU_HELP2MAN)
  set(ORU_MAN_PAGE ${CMAKE_BINARY_DIR}/man/oru.1.gz)
  add_custom_command(OUTPUT ${ORU_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -DORU=$<TARGET_FILE:oru> -DMODULE=$<TARGET_FILE:oru_module>
            -DMODULE_DIR=${ORU_INSTALLED_MODULE_DIR} -DHELP2MAN=${ORU_HELP2MAN}
            -DOUT=${ORU_MAN_PAGE} -P ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake
    DEPENDS oru oru_module ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake
    COMMENT "Writing the man page oru.1 with help2man"
    VERBATIM)
  add_custom_target(oru_man_page ALL DEPENDS ${ORU_MAN_PAGE})
  install(FILES ${ORU_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: no man page (scripts/install-deps installs it)")
endif()

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oru)
set(CPACK_PACKAGE_VENDOR "the Oru developers")
set(CPACK_PACKAGE_CONTACT "the Oru developers <oru@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "image filter that smooths the jagged edges of rendered frames")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # oru_VERSION_ARCH.deb
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plug-ins run inside their hosts and link none of the hosts' libraries:
# the hosts are suggested, never pulled in.
if(TARGET oru_gegl OR TARGET oru_frei0r)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gegl | gimp, ffmpeg | kdenlive | shotcut")
  set(CPACK_DEBIAN_PACKAGE_ENHANCES "gegl, gimp, ffmpeg, kdenlive, shotcut")
endif()
# CPack puts the summary first and indents this text below it.
set(CPACK_PACKAGE_DESCRIPTION
"Oru is an image-filter module (oru.p) for a 3D animation and rendering
host: it follows every edge of a frame, finds the stair-steps of aliased
edges and blends them away in colour, alpha or both.

This package holds the native module, oru, a command line that loads it
as a host does to filter image files and frame sequences and opens its
options dialog, the Python module oru that filters NumPy arrays, the GEGL
operation oru:smooth (gegl, GIMP), the frei0r filter oru (ffmpeg, Kdenlive,
Shotcut) and the OpenFX plug-in Oru for compositors
(/usr/OFX/Plugins/Oru.ofx.bundle).

Licence: MIT.")
include(CPack)
