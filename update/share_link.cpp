#include "update/share_link.h"
