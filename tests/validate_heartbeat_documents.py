#!/usr/bin/python3
"""Validates every heartbeat document the tests dumped against docs/heartbeat.schema.json, with
Debian's python3-jsonschema, independent of the plugin's code.

Usage: validate_heartbeat_documents.py SCHEMA DIRECTORY

Each *.json file in DIRECTORY holds one document the schema must accept. Fails when DIRECTORY holds
no document.
"""
import json
import pathlib
import sys

import jsonschema

schema_path, directory = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
schema = json.loads(schema_path.read_text(encoding="utf-8"))
validator = jsonschema.validators.validator_for(schema)(schema)
validator.check_schema(schema)


def errors(path):
    try:
        return [error.message for error in validator.iter_errors(json.loads(path.read_bytes()))]
    except ValueError as error:
        return [str(error)]


valid = sorted(directory.glob("*.json")) if directory.is_dir() else []
failures = [f"{path.name}: {message}" for path in valid for message in errors(path)]
print("\n".join(failures))
print(f"{len(valid)} documents valid, {len(failures)} failures")
sys.exit(1 if failures or not valid else 0)
