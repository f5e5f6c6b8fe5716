// Finding the package for the machine's processor.
#pragma once
#include "settings/variables.h"
#include "system/machine_queries.h"
