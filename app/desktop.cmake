# The launcher: files dropped on it (or opened with it) reach the program as
# arguments ("Exec=tessaly %F"); the icon goes to the hicolor theme, where
# every desktop looks first.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tessaly.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tessaly.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
