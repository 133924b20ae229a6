# Manual page, packages and installer.
#
# Linux:   cmake --install installs quillrun and the manual page (its
#          classic names on request); cpack -G DEB makes the Debian package,
#          which leaves the classic names (and sendmail) to the mail transport
#          agent.
# Windows: cpack -G ZIP makes the .zip, and the target "installer" the NSIS
#          installer (Debian's makensis), from the same files.
#
# The version is the project's, set once in the top-level CMakeLists.txt.

set(QUILLRUN_PUBLISHER "The quillrun authors")
set(QUILLRUN_MAINTAINER "The quillrun authors <quillrun@example.org>" CACHE STRING
    "Maintainer of the Debian package: name <address>")
set(pkg_dir ${CMAKE_BINARY_DIR}/packaging)
set(pkg_source ${PROJECT_SOURCE_DIR}/packaging)

# The newest changelog entry is this release: a version bumped in one place
# only stops here.
set(changelog ${pkg_source}/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^quillrun \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog begins with \"${changelog_head}\", "
                      "not with an entry for version ${PROJECT_VERSION}: add one")
endif()

# The manual page, with the version filled in.
set(manual ${pkg_dir}/quillrun.8)
configure_file(${PROJECT_SOURCE_DIR}/docs/quillrun.8.in ${manual} @ONLY)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Makes OUTPUT (one file or a list) from INPUT with cmake/SCRIPT, which takes
# the remaining arguments (-DNAME=VALUE).
function(quillrun_generated_file output input script)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} ${ARGN} -P ${PROJECT_SOURCE_DIR}/cmake/${script}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/${script} ${input}
    VERBATIM)
endfunction()

# For each INPUT NAME pair that follows, makes ${pkg_dir}/NAME from INPUT with
# cmake/SCRIPT (-DIN=INPUT -DOUT=the output) and appends it to OUT_VAR.
function(quillrun_converted_files out_var script)
  set(outputs ${${out_var}})
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs input name)
    quillrun_generated_file(${pkg_dir}/${name} ${input} ${script} -DIN=${input} -DOUT=${pkg_dir}/${name})
    list(APPEND outputs ${pkg_dir}/${name})
  endwhile()
  set(${out_var} ${outputs} PARENT_SCOPE)
endfunction()

if(NOT WIN32)
  install(FILES ${manual} DESTINATION share/man/man8 COMPONENT manual)

  # Debian's forms of the documents: compressed with gzip -9n, the licence
  # as a machine-readable copyright file.
  # The README's links lead to the other documents, shipped beside it.
  set(deb_docs "")
  file(MAKE_DIRECTORY ${pkg_dir}/docs ${pkg_dir}/bench)
  quillrun_converted_files(deb_docs gzip-file.cmake ${manual} quillrun.8.gz
                           ${PROJECT_SOURCE_DIR}/README.md README.md.gz ${changelog} changelog.gz
                           ${PROJECT_SOURCE_DIR}/docs/behaviour.md docs/behaviour.md.gz
                           ${PROJECT_SOURCE_DIR}/docs/comparison.md docs/comparison.md.gz
                           ${PROJECT_SOURCE_DIR}/docs/windows.md docs/windows.md.gz
                           ${PROJECT_SOURCE_DIR}/bench/README.md bench/README.md.gz)
  add_custom_target(package_files ALL DEPENDS ${deb_docs})

  install(FILES ${pkg_dir}/quillrun.8.gz DESTINATION share/man/man8
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${pkg_dir}/README.md.gz ${pkg_dir}/changelog.gz ${pkg_source}/debian/copyright
          DESTINATION share/doc/quillrun COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${pkg_dir}/docs/behaviour.md.gz ${pkg_dir}/docs/comparison.md.gz
          ${pkg_dir}/docs/windows.md.gz DESTINATION share/doc/quillrun/docs
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${pkg_dir}/bench/README.md.gz DESTINATION share/doc/quillrun/bench
          COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime debian)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION mail)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends comes from the program's shared libraries: libc6 and libssl3.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLRUN_MAINTAINER}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  # Flat, as an administrator unpacks it into a folder of its own: the
  # program, its classic names as copies (a link would need rights a user may
  # not have), and the documents as text with CR LF line ends.
  find_program(QUILLRUN_MANDOC mandoc)
  set(win_files "")
  quillrun_converted_files(win_files crlf-file.cmake
                           ${pkg_source}/windows/README.txt README.txt
                           ${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt
                           ${pkg_source}/windows/tidewharf.ini.sample tidewharf.ini.sample
                           ${pkg_source}/windows/quillrun.ini.sample quillrun.ini.sample)
  if(QUILLRUN_MANDOC)
    quillrun_generated_file("${pkg_dir}/quillrun.8.txt;${pkg_dir}/quillrun.8.html" ${manual}
      render-manual.cmake
      -DMANDOC=${QUILLRUN_MANDOC} -DIN=${manual} "-DOS=quillrun ${PROJECT_VERSION}"
      -DTXT=${pkg_dir}/quillrun.8.txt -DHTML=${pkg_dir}/quillrun.8.html)
    list(APPEND win_files ${pkg_dir}/quillrun.8.txt ${pkg_dir}/quillrun.8.html)
  else()
    install(CODE "message(FATAL_ERROR \"mandoc is needed to render the manual page: install it and configure again\")"
            COMPONENT windows_package EXCLUDE_FROM_ALL)
  endif()
  add_custom_target(package_files ALL DEPENDS ${win_files})

  install(TARGETS quillrun RUNTIME DESTINATION . COMPONENT windows_package EXCLUDE_FROM_ALL)
  # After the (stripped) program is in place.
  install(CODE "
    foreach(name mailq newaliases)
      file(COPY_FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/quillrun.exe\"
                     \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${name}.exe\")
    endforeach()" COMPONENT windows_package EXCLUDE_FROM_ALL)
  install(FILES ${win_files} DESTINATION . COMPONENT windows_package EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL windows_package)
  set(CPACK_PACKAGE_FILE_NAME quillrun-${PROJECT_VERSION}-win64)

  # The installer: makensis over a staged copy of the package's files.
  find_program(QUILLRUN_MAKENSIS makensis)
  if(QUILLRUN_MAKENSIS)
    set(stage ${pkg_dir}/installer-stage)
    set(setup ${CMAKE_BINARY_DIR}/quillrun-${PROJECT_VERSION}-setup.exe)
    add_custom_target(installer
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
      COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --component windows_package
              --prefix ${stage} --strip
      COMMAND ${QUILLRUN_MAKENSIS} -V2 -NOCD -DVERSION=${PROJECT_VERSION}
              "-DPUBLISHER=${QUILLRUN_PUBLISHER}" -DSTAGE=${stage} -DOUTFILE=${setup}
              ${pkg_source}/windows/quillrun.nsi
      DEPENDS quillrun package_files ${pkg_source}/windows/quillrun.nsi
      BYPRODUCTS ${setup}
      COMMENT "Building ${setup}"
      VERBATIM)
  endif()
endif()

set(CPACK_PACKAGE_NAME quillrun)
set(CPACK_PACKAGE_VENDOR "${QUILLRUN_PUBLISHER}")
set(CPACK_PACKAGE_CONTACT "${QUILLRUN_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail submission command for a local SMTP server")
set(CPACK_PACKAGE_DESCRIPTION
"quillrun hands one mail message, read from standard input, to an SMTP
server in one plain SMTP dialogue, and exits with status 0 when the server
took it and 1 when it did not. Programs that hand mail to a local command by
name (PHP's mail(), scheduled jobs, scripts) call it with the usual
options (-t, -i, -f) and recipients.
.
It reads its server port, spool directory and mail domain from the
configuration file of the local mail server, /etc/tidewharf.ini. With
settings of its own in /etc/quillrun.ini it submits to a provider's server
instead: STARTTLS or implicit TLS, the certificate verified against the
system's trusted roots, and SMTP AUTH (PLAIN, LOGIN, XOAUTH2). It keeps
no queue and runs no daemon, and it installs beside the machine's mail
transport agent: it provides no sendmail, mailq or newaliases command.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)

# The version everywhere it is written: the sources, the help text of the
# program just built.
if(BUILD_TESTING AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME version_strings
           COMMAND /bin/sh ${PROJECT_SOURCE_DIR}/tools/check-version.sh $<TARGET_FILE:quillrun>)
endif()
