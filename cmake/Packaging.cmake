# Installs the files a Linux system expects beside the programs (manual pages,
# shell completion, AppStream metadata, icons, copyright and changelogs) and
# sets up `cpack -G DEB`.
include(GNUInstallDirs)

# Moves with the project() version; the Debian revision counts packagings of it.
set(PICTAVO_RELEASE_DATE "2026-12-08")
set(PICTAVO_DEB_RELEASE 1)
set(PICTAVO_MAINTAINER "The Pictavo authors <authors@pictavo.org>" CACHE STRING "Maintainer of the Debian package")
set(PICTAVO_SUMMARY "shrink a folder of photographs for the web")
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(out ${PROJECT_BINARY_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/pictavo)

# Installed files must not depend on the umask of whoever builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Generated files carry the release date, not the build's, so that two builds
# of one release give the same files.
execute_process(COMMAND date -u -R -d "${PICTAVO_RELEASE_DATE} 12:00" OUTPUT_VARIABLE PICTAVO_RELEASE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u +%s -d "${PICTAVO_RELEASE_DATE} 12:00" OUTPUT_VARIABLE release_epoch
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${pkg}/changelog.Debian.in ${out}/changelog.Debian @ONLY)
configure_file(${pkg}/org.pictavo.Pictavo.metainfo.xml.in ${out}/org.pictavo.Pictavo.metainfo.xml @ONLY)

# pictavo(1) is written by help2man from the built tool's --help and
# --version, so the manual cannot drift from the tool.
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
set(gzipped)
add_custom_command(OUTPUT ${out}/pictavo.1
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${release_epoch} LC_ALL=C.UTF-8
          ${HELP2MAN} --no-info --locale=C.UTF-8 --section=1 --name=${PICTAVO_SUMMARY} --include=${pkg}/pictavo.h2m
          --output=${out}/pictavo.1 $<TARGET_FILE:pictavo>
  DEPENDS pictavo ${pkg}/pictavo.h2m
  VERBATIM)

# Manual pages and changelogs are shipped compressed, without timestamps.
function(pictavo_gzip source target)
  add_custom_command(OUTPUT ${out}/${target}
    COMMAND ${GZIP} -9nc ${source} > ${out}/${target}
    DEPENDS ${source})
  list(APPEND gzipped ${out}/${target})
  set(gzipped ${gzipped} PARENT_SCOPE)
endfunction()
pictavo_gzip(${out}/pictavo.1 pictavo.1.gz)
pictavo_gzip(${out}/changelog.Debian changelog.Debian.gz)
pictavo_gzip(${PROJECT_SOURCE_DIR}/CHANGELOG.md changelog.gz)
if(PICTAVO_GUI)
  pictavo_gzip(${pkg}/Redazar.1 Redazar.1.gz)
endif()
add_custom_target(packaging_files ALL DEPENDS ${gzipped})

install(FILES ${out}/pictavo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg}/copyright ${out}/changelog.Debian.gz ${out}/changelog.gz DESTINATION ${docdir})
install(FILES ${pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME pictavo)
install(FILES ${pkg}/completions/pictavo.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME pictavo)
install(FILES ${pkg}/completions/_pictavo DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${pkg}/completions/pictavo.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
if(PICTAVO_GUI)
  install(FILES ${out}/Redazar.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${out}/org.pictavo.Pictavo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/ui/artwork/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pictavo)
set(CPACK_PACKAGE_VENDOR "The Pictavo authors")
set(CPACK_PACKAGE_CONTACT ${PICTAVO_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PICTAVO_SUMMARY})
set(CPACK_PACKAGE_DESCRIPTION
"Pictavo reduces every picture of a folder (JPEG, PNG, WebP, HEIC/HEIF, AVIF,
TIFF or BMP) by exact area averaging so that its longer side meets a chosen
size, optionally sharpens it, and writes the results as a numbered JPEG
series. The arithmetic is fixed to the
bit: the same inputs and choices always give the same output bytes.

The package holds the command-line tool pictavo, for scripts and large
folders, and the desktop program Redazar.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://pictavo.org")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PICTAVO_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened at run time for HEIF and AVIF files and for AVIF and JPEG XL
# outputs, so the linker does not see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libheif1, libavif15, libjxl0.7")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
