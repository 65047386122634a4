import os
import sys

# The module is built into build/python; the README's commands set PYTHONPATH to it.
_built = os.path.join(os.path.dirname(__file__), "..", "..", "build", "python")
if os.path.isdir(_built) and _built not in sys.path:
    sys.path.insert(0, os.path.abspath(_built))
