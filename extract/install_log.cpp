// The install log's writer (the worker's side); install_log.h draws the format.
#include "install_log.h"
