"""The zorvane command-line program: check, count, look up and export PTX modules from the shell."""
