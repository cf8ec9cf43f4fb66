#pragma once
// The three boolean tree sequences, written once for every engine. A holds
// operand a, B operand b; the result is A's polygons afterwards. An engine
// supplies three operations on its trees:
//   ops.clip_to(X, Y)  X.clip_to(Y)
//   ops.invert(X)      X.invert()
//   ops.absorb(X, Y)   X.build(Y.all_polygons()); Y is not read again
namespace quorvalind::bsp {

enum class CsgOp { Union, Subtract, Intersect };

template <class Ops, class Tree>
void tree_sequence(CsgOp op, Ops& ops, Tree& A, Tree& B) {
  switch (op) {
    case CsgOp::Union:
      ops.clip_to(A, B);
      ops.clip_to(B, A);
      ops.invert(B);
      ops.clip_to(B, A);
      ops.invert(B);
      ops.absorb(A, B);
      break;
    case CsgOp::Subtract:
      ops.invert(A);
      ops.clip_to(A, B);
      ops.clip_to(B, A);
      ops.invert(B);
      ops.clip_to(B, A);
      ops.invert(B);
      ops.absorb(A, B);
      ops.invert(A);
      break;
    case CsgOp::Intersect:
      ops.invert(A);
      ops.clip_to(B, A);
      ops.invert(B);
      ops.clip_to(A, B);
      ops.clip_to(B, A);
      ops.absorb(A, B);
      ops.invert(A);
      break;
  }
}

}  // namespace quorvalind::bsp
