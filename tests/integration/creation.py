"""Creating a Browser where none can be had."""
import pytest

import varne


def creation_error():
    """The AutomationError that creating a Browser raises here; the test fails if one is created."""
    with pytest.raises(varne.AutomationError) as raised:
        varne.CreateObject("Varne.Browser")
    return raised.value
