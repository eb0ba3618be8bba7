# Installing the program (cmake --install) and its Debian package (CPack's DEB
# generator, run by scripts/package).
#
# The executable and its three libraries share one program folder,
# <libdir>/kestlin, where the program finds the libraries beside itself. The
# marker file installed there makes the copy an installed one, which keeps
# every user's files under the XDG base directories and writes nothing into
# its own folder. <bindir>/kestlin is a relative link to the executable, so
# the tree works wherever it is unpacked.
# The libdir is Debian's multiarch one whatever the prefix: see the top-level
# CMakeLists.txt.
include(GNUInstallDirs)

set(KESTLIN_APP_ID "io.github.kestlin.Kestlin")
set(KESTLIN_PACKAGE_MAINTAINER "Kestlin developers <kestlin@example.org>" CACHE STRING
  "Maintainer of the Debian package, \"Name <address>\"")
set(_kestlin_dist "${PROJECT_SOURCE_DIR}/dist")
set(_kestlin_out "${PROJECT_BINARY_DIR}/dist")
set(_kestlin_program_dir "${CMAKE_INSTALL_LIBDIR}/kestlin")
# Debian wants the documents in share/doc/<package>, whatever the project is called.
set(_kestlin_doc_dir "${CMAKE_INSTALL_DATAROOTDIR}/doc/kestlin")

# The release named in the changelog and the AppStream data is this project's.
file(STRINGS "${_kestlin_dist}/changelog.in" _kestlin_changelog_head LIMIT_COUNT 1)
file(READ "${_kestlin_dist}/${KESTLIN_APP_ID}.metainfo.xml" _kestlin_metainfo)
if(NOT _kestlin_changelog_head MATCHES "^kestlin \\(${PROJECT_VERSION}\\) "
   OR NOT _kestlin_metainfo MATCHES "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "dist/changelog.in and dist/${KESTLIN_APP_ID}.metainfo.xml must "
                      "begin with release ${PROJECT_VERSION}")
endif()

# The program folder.
install(TARGETS kestlin bsmtp cab32 capicom
  RUNTIME DESTINATION "${_kestlin_program_dir}"
  LIBRARY DESTINATION "${_kestlin_program_dir}")
file(WRITE "${_kestlin_out}/kestlin-installed"
  "This copy of Kestlin is installed: each user's settings, logs and work folders\n"
  "are kept under that user's XDG base directories, never in this folder.\n")
install(FILES "${_kestlin_out}/kestlin-installed" DESTINATION "${_kestlin_program_dir}")
file(RELATIVE_PATH _kestlin_link "${CMAKE_INSTALL_FULL_BINDIR}"
  "${CMAKE_INSTALL_FULL_LIBDIR}/kestlin/kestlin")
file(CREATE_LINK "${_kestlin_link}" "${_kestlin_out}/kestlin" SYMBOLIC)
install(FILES "${_kestlin_out}/kestlin" DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The desktop: entry, icons, AppStream data, manual page.
install(FILES "${_kestlin_dist}/${KESTLIN_APP_ID}.desktop"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_kestlin_dist}/${KESTLIN_APP_ID}.metainfo.xml"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${_kestlin_dist}/icons/kestlin.svg"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES "${_kestlin_dist}/icons/kestlin-${size}.png"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps" RENAME kestlin.png)
endforeach()

# Documents: README and the user guide with its pictures, the licence as the
# package's copyright, the changelog and manual page compressed as Debian wants.
configure_file("${_kestlin_dist}/changelog.in" "${_kestlin_out}/changelog" @ONLY)
find_program(KESTLIN_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT "${_kestlin_out}/changelog.gz" "${_kestlin_out}/kestlin.1.gz"
  COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$1.gz\"" "${KESTLIN_GZIP}" "${_kestlin_out}/changelog"
  COMMAND "${CMAKE_COMMAND}" -E copy "${_kestlin_dist}/kestlin.1" "${_kestlin_out}/kestlin.1"
  COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$1.gz\"" "${KESTLIN_GZIP}" "${_kestlin_out}/kestlin.1"
  DEPENDS "${_kestlin_out}/changelog" "${_kestlin_dist}/kestlin.1"
  VERBATIM)
add_custom_target(kestlin_dist_files ALL
  DEPENDS "${_kestlin_out}/changelog.gz" "${_kestlin_out}/kestlin.1.gz")
install(FILES "${_kestlin_out}/kestlin.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${_kestlin_out}/changelog.gz" README.md DESTINATION "${_kestlin_doc_dir}")
install(FILES LICENSE DESTINATION "${_kestlin_doc_dir}" RENAME copyright)
file(GLOB _kestlin_docs CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/docs/*.md"
  "${PROJECT_SOURCE_DIR}/docs/*.png")
# The architecture page is for developers, not for the people who file reports.
list(FILTER _kestlin_docs EXCLUDE REGEX "/ARCHITECTURE\\.md$")
install(FILES ${_kestlin_docs} DESTINATION "${_kestlin_doc_dir}/docs")

# The Debian package: dependencies from the libraries the program and its
# libraries link (dpkg-shlibdeps; libssl3 among them, which also holds the
# legacy provider for RC4 and DES), plus what it opens only at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestlin)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTLIN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "fonts-ipafont-gothic | fonts-noto-cjk, qt6-translations-l10n, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-user-dirs")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "send the petroleum statistics report to the authority by e-mail")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kestlin sends a company's periodic petroleum statistics report (in Japanese
sekiyu doutai houkoku) to the receiving authority. The report files are
collected in one window; Kestlin packs them with a one-line identification
file into a cabinet archive, encrypts it, mails it through the company's SMTP
server (no sign-in, POP before SMTP, AUTH LOGIN, CRAM-MD5 or PLAIN) and keeps
a log of what was sent. The window and every message are in Japanese.")
include(CPack)
