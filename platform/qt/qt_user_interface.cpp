// Replaced by the Qt user interface.
