#pragma once
// Booleans on solids: cut, fuse, common, fuse_all. A wait callback may stop
// an operation, which then throws bsp::Interrupted.
#include "brep_algo_api/booleans.h"
#include "quorvalind/values.h"
