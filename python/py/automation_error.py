# Run in the module's namespace when the module is made; the error translator raises it.
class AutomationError(Exception):
    """A failure reported by the library: an error number and its description."""

    def __init__(self, number, description):
        super().__init__(number, description)
        self.number = number
        self.description = description

    def __str__(self):
        return f"{self.description} (error {self.number})"
