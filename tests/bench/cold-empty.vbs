' Cold start baseline: a fresh script host that does nothing.
