#include "watch/DirectoryWatcher.h"
