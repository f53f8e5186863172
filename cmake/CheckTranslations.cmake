# Fails when the committed template or a catalogue does not match the texts
# of the sources:
#   cmake -DMSGCMP=... -DMSGFMT=... -DCOMMITTED=po/qelvane.pot
#         -DEXTRACTED=build/po/qelvane.pot -DCATALOGUES=po/de.po|... -P CheckTranslations.cmake
# The committed template must hold exactly the texts extracted from the
# sources, and every catalogue must translate each of them, with nothing
# fuzzy and nothing left over.
cmake_minimum_required(VERSION 3.25)

set(problems "")
function(compare definitions reference what)
  execute_process(COMMAND ${MSGCMP} ${ARGN} ${definitions} ${reference}
                  RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    string(REGEX REPLACE "\n+$" "" errors "${errors}")
    set(problems "${problems}\n  ${what}:\n${errors}" PARENT_SCOPE)
  endif()
endfunction()

compare(${COMMITTED} ${EXTRACTED} "the committed template lacks texts of the sources"
        --use-untranslated)
compare(${EXTRACTED} ${COMMITTED} "the committed template holds texts the sources do not have"
        --use-untranslated)

string(REPLACE "|" ";" catalogues "${CATALOGUES}")
foreach(po IN LISTS catalogues)
  get_filename_component(language ${po} NAME_WE)
  compare(${po} ${EXTRACTED} "${language}: untranslated texts")
  compare(${EXTRACTED} ${po} "${language}: texts the sources do not have" --use-untranslated)
  execute_process(COMMAND ${MSGFMT} --check --statistics --output-file=/dev/null ${po}
                  RESULT_VARIABLE result ERROR_VARIABLE statistics OUTPUT_QUIET)
  if(NOT result EQUAL 0 OR statistics MATCHES "fuzzy|untranslated")
    set(problems "${problems}\n  ${language}: ${statistics}")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "The translations do not match the sources:${problems}")
endif()
