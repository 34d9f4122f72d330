// PLACEHOLDER: replaced by the real implementation.
