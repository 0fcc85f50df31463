#include "nn.h"
