# Run by `cmake --install`: writes the launcher entry with the installed
# program's full path under the prefix given then, and installs it (so
# DESTDIR and the install manifest apply as to any other file).
file(READ "${parlaro_entry_source}" entry)
set(program "${CMAKE_INSTALL_PREFIX}/${parlaro_bindir}/parlaro")
string(REPLACE "\nExec=parlaro\n" "\nExec=\"${program}\"\n" entry "${entry}")
file(WRITE "${parlaro_entry_built}" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${parlaro_datadir}/applications" TYPE FILE
     FILES "${parlaro_entry_built}")
