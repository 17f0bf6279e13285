// The private folder of the launch files of links, as the POSIX faces (the
// launcher's store and the checker's questions) judge it.
#pragma once

// Opens `folder` as a folder without following a link; -1 when it cannot.
int open_link_folder(const char* folder);

// Why the open folder `fd` lets someone but this user change what is in
// it, in a few words; null when only this user can.
const char* link_folder_problem(int fd);

// The same of the open folder `fd` that holds it: whoever may rename the
// folder away could put another in its place.
const char* link_holder_problem(int fd);
