#include "ecdsa.h"
