# The help file that "Help" opens when there is none in the start-up folder.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/readme.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/tessaly)
