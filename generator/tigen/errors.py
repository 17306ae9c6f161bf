"""The loader's refusal of a malformed catalogue (generate.py reports it, like
every other failure, on one line)."""


class CatalogueError(Exception):
    """A catalogue entry the generator refuses.

    The message names the file and the entry, e.g.
    ``kms.toml: service ProvidersSvc, structure Info, field native_info: ...``.
    """

    def __init__(self, where, message):
        super().__init__(f"{where}: {message}")
        self.where = where
        self.detail = message
