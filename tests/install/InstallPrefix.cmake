# Installs the build in BUILD_DIR under the scratch prefix PREFIX and checks
# that the tree is complete and that the installed companion finds its sample
# registry there, from its own folder, and not in the source tree.
# check(TEXT CONDITION...): fails with TEXT unless the condition holds.
macro(check text)
  if(NOT (${ARGN}))
    message(FATAL_ERROR "${text}")
  endif()
endmacro()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                OUTPUT_QUIET RESULT_VARIABLE result)
check("cmake --install into ${PREFIX} failed" result EQUAL 0)

set(data "${PREFIX}/${DATADIR}")
foreach(file
    "${PREFIX}/${BINDIR}/orbel" "${PREFIX}/${BINDIR}/orbel-catalogue"
    "${data}/orbel/Orbel.html" "${data}/orbel/sample/system.reg"
    "${data}/applications/${APP_ID}.desktop"
    "${data}/icons/hicolor/scalable/apps/${APP_ID}.svg"
    "${data}/metainfo/${APP_ID}.metainfo.xml"
    "${PREFIX}/${MANDIR}/man1/orbel-catalogue.1")
  check("not installed: ${file}" EXISTS "${file}")
endforeach()

# Every picture the manual shows lies beside it.
file(READ "${data}/orbel/Orbel.html" manual)
string(REGEX MATCHALL "src=\"[^\"]+\"" pictures "${manual}")
check("the installed manual shows no picture" pictures)
foreach(picture ${pictures})
  string(REGEX REPLACE "^src=\"([^\"]+)\"$" "\\1" picture "${picture}")
  check("the manual's picture ${picture} is not installed" EXISTS "${data}/orbel/${picture}")
endforeach()

# Every section the program opens the manual at (Help on Help, the Find
# window's Help button) is there.
file(READ "${SOURCE_DIR}/src/ui/MainWindowUnit.cpp" window)
string(REGEX MATCHALL "HelpFile \\+ \"#[^\"]+\"" sections "${window}")
check("the main window opens the manual at no section" sections)
foreach(section ${sections})
  string(REGEX REPLACE "^.*#([^\"]+)\"$" "\\1" section "${section}")
  string(FIND "${manual}" "id=\"${section}\"" found)
  check("the manual has no section \"${section}\" for the program to open" found GREATER -1)
endforeach()

# A sample of one class in place of the shipped one: the companion must read
# this file, whereas the source tree's sample holds many classes.
file(WRITE "${data}/orbel/sample/system.reg"
  "WINE REGISTRY Version 2\n\n"
  "[Software\\\\Classes\\\\CLSID\\\\{8D5AB3A1-7C1F-4E0B-9D62-3F1A2B4C5D6E}] 1273165719\n"
  "@=\"Installed Sample Object\"\n")
file(MAKE_DIRECTORY "${PREFIX}/home")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=ORBEL_REGISTRY --unset=WINEPREFIX
          "HOME=${PREFIX}/home" "XDG_CONFIG_HOME=${PREFIX}/home/.config"
          "${PREFIX}/${BINDIR}/orbel-catalogue"
  WORKING_DIRECTORY "${PREFIX}/home"
  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
check("the installed orbel-catalogue failed (${result}): ${errors}" result EQUAL 0)
string(FIND "${output}" "Installed Sample Object" found)
check("the installed orbel-catalogue did not read the installed sample registry:\n${output}"
      found GREATER -1)
string(FIND "${output}" "1 Objects displayed" found)
check("the installed sample's one class is not all that was read:\n${output}"
      found GREATER -1)

# The installed menu entry, icon and metainfo belong together.
find_program(appstreamcli appstreamcli)
if(appstreamcli)
  execute_process(COMMAND ${appstreamcli} validate-tree --no-net "${PREFIX}"
                  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
  check("appstreamcli rejects the installed tree:\n${output}" result EQUAL 0)
else()
  message("appstreamcli is not installed: the installed tree's metainfo is not checked")
endif()
