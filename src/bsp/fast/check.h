#pragma once
// The checking mode (SkipOptions::check_shortcuts): a shortcut, where it is
// taken, compared with the exact classification it stands for. A failure
// throws gp::InternalFault with the one message form
//   shortcut '<name>' <claim> but <finding>
// for example "shortcut 'index group by sphere' proved back at plane
// (0, 0, 1, 2) but vertex 3 is front". The checks classify with
// classify_point alone and never touch the split scratch, whose vertex
// classes a SPANNING answer leaves for the split that follows.
#include <cstdint>
#include <string>

#include "bsp/fast/bounds.h"
#include "bsp/fast/chain_index.h"
#include "bsp/fast/common.h"
#include "bsp/fast/tree.h"

namespace quorvalind::bsp::fast {

// Builds and throws the one failure message of the checking mode.
[[noreturn]] void shortcut_failed(const std::string& shortcut, const std::string& claim,
                                  const std::string& finding);

// The name of a group proof: "<group> by sphere" or "<group> by corners".
std::string proof_name(const char* group, ProofBy by);

// Every vertex of poly lies beyond PLANE_EPSILON on `side` of pl: what a
// group proof or a sphere test claims for each plane it covers.
void check_plane_side(const std::string& shortcut, const Plane& pl, const Polygon& poly, Side side);

// Every plane of the index group hn (all the leaves below it) has poly on
// `side`.
void check_index_group(const Hier& h, std::uint32_t hn, ProofBy by, const Polygon& poly, Side side);

// Members [first, end) of a run have poly on `side`.
void check_run_group(const Tree& t, const Chain& ch, const Run& run, std::size_t first,
                     std::size_t end, ProofBy by, const Polygon& poly, Side side);

// The exact class of q, own-plane rule included, is `side` at chain
// positions [p, k) of chain c on `side`: what a search that answered k
// claims for the positions it passed.
void check_passed(const char* shortcut, const Tree& t, Side side, std::uint32_t c, std::uint32_t p,
                  std::uint32_t k, const FPoly& q);

// The exact walk of q from t's root takes only FRONT and BACK classes and
// leaves the tree in front of `exit`: what a recorded exit claims.
void check_exit(const char* shortcut, const Tree& t, const FPoly& q, std::uint32_t exit);

}  // namespace quorvalind::bsp::fast
