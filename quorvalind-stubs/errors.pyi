__all__ = ["InternalFaultError"]

# Derives from BaseException on purpose: `except Exception` does not catch it.
class InternalFaultError(BaseException): ...
