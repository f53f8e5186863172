# The user's language: the texts the panel shows are extracted from the
# sources into a template, each language's catalogue (po/<lang>.po) is
# compiled where the uninstalled panel finds it (bin/locale) and installed
# where the installed one does (share/locale).
#
#   build/po/qelvane.pot                      extracted from the sources
#   build/bin/locale/<lang>/LC_MESSAGES/qelvane.mo
#   <prefix>/share/locale/<lang>/LC_MESSAGES/qelvane.mo
#
# On Windows the panel looks in `<directory>/locale` only: the installer puts
# bin/locale beside it.
include(GNUInstallDirs)
find_program(QEL_XGETTEXT xgettext REQUIRED)
find_program(QEL_MSGFMT msgfmt REQUIRED)
find_program(QEL_MSGCMP msgcmp REQUIRED)

# Where the texts are: the windows, and the result codes' and system errors'
# texts of the layers below, which the windows show.
file(GLOB qel_translated_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.h)
list(APPEND qel_translated_sources
  ${PROJECT_SOURCE_DIR}/runtime/kes_result.cpp ${PROJECT_SOURCE_DIR}/client/qel_records.cpp)
list(SORT qel_translated_sources)

set(QEL_POT ${CMAKE_BINARY_DIR}/po/qelvane.pot)
add_custom_command(OUTPUT ${QEL_POT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/po
  COMMAND ${QEL_XGETTEXT} --from-code=UTF-8 --language=C++ --keyword=_ --keyword=wxTRANSLATE
          --keyword=N_ --add-comments=TRANSLATORS: --no-location --sort-output
          --package-name=qelvane --package-version=${PROJECT_VERSION}
          --msgid-bugs-address=dev@qelvane.example --output=${QEL_POT}
          ${qel_translated_sources}
  DEPENDS ${qel_translated_sources}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Extracting the texts to translate"
  VERBATIM)
add_custom_target(qel_pot ALL DEPENDS ${QEL_POT})

file(GLOB qel_po_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/*.po)
set(qel_mo_files "")
set(QEL_LANGUAGES "")
foreach(po IN LISTS qel_po_files)
  get_filename_component(language ${po} NAME_WE)
  list(APPEND QEL_LANGUAGES ${language})
  set(mo ${CMAKE_BINARY_DIR}/bin/locale/${language}/LC_MESSAGES/qelvane.mo)
  add_custom_command(OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin/locale/${language}/LC_MESSAGES
    COMMAND ${QEL_MSGFMT} --check --output-file=${mo} ${po}
    DEPENDS ${po}
    COMMENT "Compiling the ${language} catalogue"
    VERBATIM)
  list(APPEND qel_mo_files ${mo})
  install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_DATADIR}/locale/${language}/LC_MESSAGES)
endforeach()
add_custom_target(qel_translations ALL DEPENDS ${qel_mo_files})

# Checked by a test: the committed template and every catalogue against the
# texts of the sources (see cmake/CheckTranslations.cmake).
set(QEL_TRANSLATION_CHECK
  ${CMAKE_COMMAND} -DMSGCMP=${QEL_MSGCMP} -DMSGFMT=${QEL_MSGFMT}
  -DCOMMITTED=${PROJECT_SOURCE_DIR}/po/qelvane.pot -DEXTRACTED=${QEL_POT}
  CACHE INTERNAL "The translation check's command, without its catalogues and script")
