# The Debian package: `cmake --workflow --preset deb` (or scripts/package.sh) configures for /usr,
# builds and packs build/package/qmvardel_<version>_<arch>.deb.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qmvardel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QmVardel")
set(CPACK_PACKAGE_CONTACT "Zespół QmVardel <qmvardel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "strażnik połączeń modemowych chroniący przed dialerami")
# The long description, wrapped as dpkg shows it.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "QmVardel przepuszcza połączenie modemowe tylko do numerów z listy dozwolonych\n"
       "i pyta o każdy inny numer, rozpoznaje znane dialery po odciskach plików (przy\n"
       "uruchamianiu, wśród działających programów i w skanowaniu dysków), przenosi je\n"
       "do kwarantanny, mierzy czas połączeń, prowadzi ich statystykę i uaktualnia bazę\n"
       "sygnatur przez HTTP. Usługa vardeld (systemd) pilnuje modemów i uruchamianych\n"
       "programów.")
# The package holds exactly what an install into the configured prefix holds, so the paths compiled
# into vardeld and written into its unit are the ones the package puts on disk.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link come from dpkg-shlibdeps. The plugins Qt loads at run time are in
# packages those bring: the X11 platform in libqt6gui6, the SVG icon and picture plugins in
# libqt6svg6 (linked for the pictures), the sound output in libqt6multimedia6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The dial dialog starts pppd; without it the guard still guards, it only cannot dial itself.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ppp")
# The service's configuration is the administrator's: an upgrade must not overwrite it.
set(qm_conffiles ${CMAKE_BINARY_DIR}/package/conffiles)
file(WRITE ${qm_conffiles} "${CMAKE_INSTALL_FULL_SYSCONFDIR}/qmvardel/vardeld.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${qm_conffiles})
include(CPack)
