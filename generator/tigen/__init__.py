"""Code generator for the trusted-infrastructure catalogue."""
