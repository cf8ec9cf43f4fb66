# Additions beyond the module tree; entered in sys.modules only.
__all__: list[str] = []
