#pragma once
// Builders: box, cylinder, cone, sphere, torus, prism, revolution (each a
// welded, outward-facing mesh::TriMesh), polygons and solid transforms.
#include "brep_builder_api/builder.h"
#include "brep_prim_api/box.h"
#include "brep_prim_api/cone.h"
#include "brep_prim_api/mesh_params.h"
#include "brep_prim_api/prism.h"
#include "brep_prim_api/revol.h"
#include "brep_prim_api/sphere.h"
#include "quorvalind/values.h"
