-- The rights of a workstation on an installation's schema: read and write
-- the records of every data file, read the catalog and the report views;
-- no right to create, drop or alter anything. Run it as the schema's owner
-- (the role that creates the data files), for an existing login role:
--
--   CREATE ROLE office LOGIN PASSWORD '...';   -- or a role of the office's own
--   psql "CONNINFO" -v ON_ERROR_STOP=1 -v schema=cobram -v role=office \
--        -f scripts/pg-workstation-role.sql
--
-- psql quotes both names as identifiers (:"schema", :"role"). The grants
-- cover the tables there now and, through the owner's default privileges,
-- the files and views the owner creates later; rerunning it changes nothing.
\set ON_ERROR_STOP on
BEGIN;
GRANT USAGE ON SCHEMA :"schema" TO :"role";
GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA :"schema" TO :"role";
-- The catalog is kept by the engine's triggers with the owner's rights.
REVOKE INSERT, UPDATE, DELETE ON :"schema".nubo_files FROM :"role";
ALTER DEFAULT PRIVILEGES IN SCHEMA :"schema"
  GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO :"role";
-- No object of the schema may be made by anyone but its owner.
REVOKE CREATE ON SCHEMA :"schema" FROM PUBLIC;
COMMIT;
