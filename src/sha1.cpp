#include "sha1.h"
