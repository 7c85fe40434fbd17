# Install rules are completed with the packaging work.
