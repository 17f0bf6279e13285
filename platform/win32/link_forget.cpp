// Windows leaves a link's file to the day's sweep (link_store.cpp): the
// launcher would have to stay until the product has read it.
#include "platform/platform.h"

void platform_forget_link_file(const char*) {}
