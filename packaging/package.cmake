# `make package`: a Debian package of this build, made by CPack's DEB generator. CPack packs the
# binary this tree has built already (no second build from a clean source tree, as
# dpkg-buildpackage would make), so the package test costs seconds.
set(SIPLINE_PACKAGE_VERSION 0.1.0)
set(SIPLINE_PACKAGE_RELEASE 1)
set(SIPLINE_VERSION ${SIPLINE_PACKAGE_VERSION}-${SIPLINE_PACKAGE_RELEASE})
set(packaging ${CMAKE_SOURCE_DIR}/packaging)
set(staged ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${staged})

find_program(SCDOC scdoc REQUIRED)
add_custom_command(OUTPUT ${staged}/sipline.8.gz
  COMMAND sh -c "${SCDOC} < '${packaging}/sipline.8.scd' | gzip -9n > '${staged}/sipline.8.gz'"
  DEPENDS ${packaging}/sipline.8.scd VERBATIM)
add_custom_command(OUTPUT ${staged}/changelog.Debian.gz
  COMMAND sh -c "sed 's/@SIPLINE_VERSION@/${SIPLINE_VERSION}/' '${packaging}/changelog' | gzip -9n > '${staged}/changelog.Debian.gz'"
  DEPENDS ${packaging}/changelog VERBATIM)
add_custom_target(sipline_package_docs ALL DEPENDS ${staged}/sipline.8.gz ${staged}/changelog.Debian.gz)

# The installed settings are the documented file with authentication on and the access log
# where logrotate looks; they start nothing until a user is added.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/deploy/sipline.toml)
file(READ ${CMAKE_SOURCE_DIR}/deploy/sipline.toml documented)
string(REPLACE "\nauthenticate = false\n" "\nauthenticate = true\n" installed "${documented}")
string(REPLACE "\naccess_log = \"\"\n" "\naccess_log = \"/var/log/sipline/access.log\"\n"
  installed "${installed}")
string(REGEX MATCHALL "\nauthenticate = true\n|\naccess_log = \"/var/log/sipline/access.log\"\n"
  changed "${installed}")
list(LENGTH changed changes)
if(NOT changes EQUAL 2)
  message(FATAL_ERROR "deploy/sipline.toml: no line \"authenticate = false\" or \"access_log = \"\"\" to change for the package")
endif()
file(WRITE ${staged}/sipline.toml
"# Installed by the sipline package. The gateway refuses to start until an account is added
# below (see [[security.users]]); then `systemctl restart sipline`. sipline(8) tells more.
${installed}")

find_package(PkgConfig REQUIRED)
pkg_get_variable(SYSTEMD_UNIT_DIR systemd systemdsystemunitdir)
if(NOT SYSTEMD_UNIT_DIR)
  set(SYSTEMD_UNIT_DIR /lib/systemd/system)
endif()

install(TARGETS sipline RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(FILES gateway/prompts/enter.vox gateway/prompts/notfound.vox
  DESTINATION ${CMAKE_INSTALL_DATADIR}/sipline)
install(FILES ${staged}/sipline.toml DESTINATION /etc/sipline)
install(FILES ${packaging}/sipline.service DESTINATION ${SYSTEMD_UNIT_DIR})
install(FILES ${packaging}/logrotate DESTINATION /etc/logrotate.d RENAME sipline)
install(FILES deploy/fail2ban/filter.d/sipline.conf
  DESTINATION /etc/fail2ban/filter.d)
install(FILES ${packaging}/filter-journal.conf DESTINATION /etc/fail2ban/filter.d
  RENAME sipline-journal.conf)
install(FILES ${packaging}/jail.conf DESTINATION /etc/fail2ban/jail.d RENAME sipline.conf)
install(FILES ${staged}/sipline.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${packaging}/copyright ${staged}/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sipline)
set(CPACK_PACKAGE_VERSION ${SIPLINE_PACKAGE_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${SIPLINE_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_CONTACT "sipline developers <sipline@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "gateway between SIP telephony and an analogue telephone line")
# CPack puts the summary first and indents these lines under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "sipline answers SIP calls by dialling out on an analogue line and lets
a caller on the line reach SIP numbers. It runs as a systemd service under
its own user, with digest authentication, bans of password guessers and a
fail2ban jail.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "logrotate")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fail2ban")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${packaging}/postinst ${packaging}/prerm ${packaging}/postrm ${packaging}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)

sipline_script_test(package ${packaging}/tests/package.sh LABELS package TIMEOUT 240)
