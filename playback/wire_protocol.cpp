// Replaced by the wire protocol.
