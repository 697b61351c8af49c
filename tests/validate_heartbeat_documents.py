#!/usr/bin/python3
"""Validates every heartbeat document the tests dumped against docs/heartbeat.schema.json.

Usage: validate_heartbeat_documents.py SCHEMA DIRECTORY

Each *.json file in DIRECTORY holds one document. Independently of the C++ tests' parser, each
must be strict UTF-8 and one JSON object with no repeated member and no NaN or Infinity, valid
under the schema (Debian's python3-jsonschema), in compact form, with its members in the order
the schema lists them. Each file in DIRECTORY/invalid holds a document the tests meant to be
rejected, and must be. Fails when DIRECTORY holds no document.
"""
import json
import pathlib
import sys

import jsonschema


def reject_constant(name):
    raise ValueError(f"{name} is not JSON")


def no_repeats(pairs):
    seen = {}
    for key, value in pairs:
        if key in seen:
            raise ValueError(f'the member "{key}" is repeated')
        seen[key] = value
    return seen


def check_order(value, schema, where):
    """Members in the order of the schema's properties, recursively."""
    if isinstance(value, dict) and "properties" in schema:
        order = list(schema["properties"])
        positions = [order.index(name) for name in value if name in order]
        if positions != sorted(positions):
            raise ValueError(f"{where}: members out of order: {list(value)}")
        for name, member in value.items():
            if name in schema["properties"]:
                check_order(member, schema["properties"][name], f"{where}.{name}")
    elif isinstance(value, list) and "items" in schema:
        for index, item in enumerate(value):
            check_order(item, schema["items"], f"{where}[{index}]")


def check(path, schema, validator):
    """Raises ValueError (UnicodeDecodeError and JSONDecodeError are ones) for a bad document."""
    text = path.read_bytes().decode("utf-8", errors="strict")
    document = json.loads(text, object_pairs_hook=no_repeats, parse_constant=reject_constant)
    errors = sorted(validator.iter_errors(document), key=lambda e: list(e.path))
    if errors:
        raise ValueError("; ".join(f"{list(e.path)}: {e.message}" for e in errors))
    # Python writes the same escapes as the plugin, so a compact document reads back to itself.
    if json.dumps(document, ensure_ascii=False, separators=(",", ":")) != text:
        raise ValueError("not in compact form")
    check_order(document, schema, "document")


def main():
    schema_path, directory = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    schema = json.loads(schema_path.read_text(encoding="utf-8"))
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)

    valid = sorted(directory.glob("*.json")) if directory.is_dir() else []
    invalid = sorted((directory / "invalid").glob("*.json")) if directory.is_dir() else []
    if not valid:
        print(f"no documents in {directory}: did the tests that write them run?")
        return 1
    failures = 0
    for path in valid:
        try:
            check(path, schema, validator)
        except ValueError as error:
            failures += 1
            print(f"{path.name}: {error}")
    for path in invalid:
        try:
            check(path, schema, validator)
            failures += 1
            print(f"invalid/{path.name}: accepted, but the tests meant it to be rejected")
        except ValueError:
            pass
    print(f"{len(valid)} documents valid and {len(invalid)} rejected as meant, "
          f"{failures} failures, under {schema_path.name}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
