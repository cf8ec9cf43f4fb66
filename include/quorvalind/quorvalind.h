#pragma once
// The whole C++ interface of the geometry core.
#include "quorvalind/booleans.h"
#include "quorvalind/builders.h"
#include "quorvalind/values.h"
#include "quorvalind/writers.h"
