"""Runs the command-line program as `python -m zorvane_cli`."""

import sys

from zorvane_cli.cli import main

# Worker processes started by "spawn" or "forkserver" import this module under another name; only a real run starts.
if __name__ == "__main__":
    sys.exit(main())
