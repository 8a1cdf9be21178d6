"""The package version, read by the build for the package metadata and exported as
`velkor.__version__`."""

__version__ = "0.1.0"
