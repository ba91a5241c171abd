"""The parts of bench/run."""
