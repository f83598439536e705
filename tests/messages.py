"""The host's argument-error messages, as the modules must give them."""

SUBCLASS_NOTE = (
    ". Note that subclasses of built-in types are deliberately rejected: convert the "
    "argument to the exact built-in type first."
)


def type_message(name: str, expected: str, got: str, subclass: bool = False) -> str:
    """The message for an argument of the wrong type (a subclass adds a note)."""
    note = SUBCLASS_NOTE if subclass else ""
    return f"Argument '{name}' has incorrect type (expected {expected}, got {got}){note}"
