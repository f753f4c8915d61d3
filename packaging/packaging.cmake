# A Debian package of the whole program for the system (`cpack --config
# build/CPackConfig.cmake`, from any build): the three commands in /usr/bin, a ready data
# folder to copy, a man page for each command, a desktop entry and a systemd unit for the web
# server. Its files are the component `deb`, which a study folder's install leaves out.
include(GNUInstallDirs)
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(NOT HELP2MAN OR NOT GZIP)
    message(STATUS "No help2man: the Debian package is not offered.")
    return()
endif()

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})

# Each man page from its command's own --help, so the two never differ; gzip -n keeps the
# package the same from one build to the next.
set(man_pages)
foreach(command fluxmere fluxmere-report fluxmere-web)
    set(page ${generated}/${command}.1.gz)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
                ${HELP2MAN} --no-info --no-discard-stderr --section=1
                --include=${packaging}/${command}.h2m --output=${generated}/${command}.1
                $<TARGET_FILE:${command}>
        COMMAND ${GZIP} -9nf ${generated}/${command}.1
        DEPENDS ${command} ${packaging}/${command}.h2m
        COMMENT "The man page of ${command}")
    list(APPEND man_pages ${page})
endforeach()
add_custom_command(OUTPUT ${generated}/changelog.gz
    COMMAND ${GZIP} -9nc ${packaging}/changelog > ${generated}/changelog.gz
    DEPENDS ${packaging}/changelog)
add_custom_target(package_documents ALL DEPENDS ${man_pages} ${generated}/changelog.gz)

set(doc ${CMAKE_INSTALL_DATADIR}/doc/fluxmere)
set(deb COMPONENT deb EXCLUDE_FROM_ALL)
install(TARGETS fluxmere fluxmere-report fluxmere-web RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ${deb})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 ${deb})
install(FILES ${packaging}/copyright ${generated}/changelog.gz DESTINATION ${doc} ${deb})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/data.md
        DESTINATION ${doc} ${deb})
install(FILES ${packaging}/fluxmere.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        ${deb})
install(FILES ${packaging}/fluxmere-web.service DESTINATION lib/systemd/system ${deb})
# The mark that the programs' data folder is each user's own (see paths::dataDirectory).
install(FILES ${packaging}/system-install DESTINATION ${CMAKE_INSTALL_DATADIR}/fluxmere ${deb})
# The ready data folder, made by the program itself as --init makes every other one.
install(CODE [[
    set(data "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/fluxmere/data")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                            ASAN_OPTIONS=detect_leaks=0
                            "$<TARGET_FILE:fluxmere>" --data-dir "${data}" --init
                    OUTPUT_QUIET RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Making ${data} ready failed (${result}).")
    endif()
]] ${deb})

set(CPACK_GENERATOR DEB)
# Only the component deb: the study folder's install stays out.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_NAME fluxmere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# A lab that builds its own package names itself: -DFLUXMERE_MAINTAINER="Lab <lab@uni.example>".
set(FLUXMERE_MAINTAINER "The Fluxmere developers <fluxmere@example.org>" CACHE STRING
    "The Debian package's maintainer")
set(CPACK_PACKAGE_CONTACT "${FLUXMERE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "laboratory experiments on dynamic decision making")
set(CPACK_PACKAGE_DESCRIPTION
    "A tank task in periods, played by a person at the keyboard, by a cognitive
model over TCP or by participants in their browsers, with exact tab-separated
records of every period and the answers in an embedded database; a report of
the runs; a web server for online studies.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The offscreen platform runs the web server and the report without a display.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
include(CPack)
