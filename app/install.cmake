# Installed layout (any prefix): the programs in bin/, the data files in
# share/tessaly/, where the program finds them from its own folder
# (bin/../share/tessaly); nothing is fixed at configure time. The build
# tree gets the same data files in <build>/share/tessaly, so a program run
# from build/app finds them by the same rule.
set(TESSALY_DESKTOP ${PROJECT_SOURCE_DIR}/desktop)
set(TESSALY_DATA_FILES ${CMAKE_CURRENT_LIST_DIR}/readme.txt ${TESSALY_DESKTOP}/tessaly.svg)
foreach(file ${TESSALY_DATA_FILES})
  get_filename_component(name ${file} NAME)
  configure_file(${file} ${PROJECT_BINARY_DIR}/share/tessaly/${name} COPYONLY)
endforeach()
install(FILES ${TESSALY_DATA_FILES} ${TESSALY_DESKTOP}/thunar-uca.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessaly)

# The launcher: files dropped on it or opened with it ("Open With" for any
# file), and mailto: links, reach the program as arguments.
install(FILES ${TESSALY_DESKTOP}/tessaly.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TESSALY_DESKTOP}/tessaly.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# "Send with Tessaly" in file managers: Dolphin's service menus (it runs
# only executable ones) and Nemo's actions. Thunar's is a snippet for the
# user's uca.xml (above); Nautilus reads scripts per user only, so
# "tessaly --install-integration" writes that one.
install(FILES ${TESSALY_DESKTOP}/tessaly-send-with.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES ${TESSALY_DESKTOP}/tessaly.nemo_action DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions)

install(FILES ${PROJECT_SOURCE_DIR}/man/tessaly.1 ${PROJECT_SOURCE_DIR}/man/tessaly-send.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
