"""Property test of the shortest-decimal form used by the Pnt repr."""
import struct
from decimal import Decimal

import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import given, strategies as st  # noqa: E402

from quorvalind import Pnt  # noqa: E402


def bits(x):
    return struct.pack("<d", x)


def shortest_positional(v):
    """Independent reference: the interpreter's shortest digits, laid out without exponent."""
    s = format(Decimal(repr(v)), "f")
    return s.rstrip("0").rstrip(".") if "." in s else s


@given(st.floats(allow_nan=False, allow_infinity=False))
def test_pnt_repr_is_shortest_round_trip(v):
    text = repr(Pnt(v, 0, 0))[4:-7]
    assert text == shortest_positional(v)
    assert "e" not in text and bits(float(text)) == bits(v)
