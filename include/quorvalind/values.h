#pragma once
// The values of the C++ interface: points and vectors (gp::Pnt), axes,
// transforms and boxes; the triangle mesh every builder and boolean returns;
// the topological shapes (Vertex, Wire, Face, Solid, Compound); and the
// core's one failure type, gp::InternalFault.
//
// The core's headers keep their folder layout (gp/, mesh/, topods/, ...);
// these umbrella headers are the supported way in.
#include "gp/ax1.h"
#include "gp/bbox.h"
#include "gp/fault.h"
#include "gp/pnt.h"
#include "gp/trsf.h"
#include "mesh/tri_mesh.h"
#include "topods/shapes.h"
