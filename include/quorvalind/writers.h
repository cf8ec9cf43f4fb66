#pragma once
// Writers: ASCII and binary STL, and STEP text, of a mesh::TriMesh.
#include "mesh_io/step.h"
#include "mesh_io/stl.h"
#include "quorvalind/values.h"
