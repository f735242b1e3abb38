-- rows_v83.sql - bulk rows for a database at format version 83, for the
-- check and reindex benchmarks.  Portable SQL (SQLite and PostgreSQL); it
-- reads bench_seq(i) = 1..nodes and bench_k(k) = 1..9, which gen.sh fills.
--
-- Node i has id 1000+10*i, seven interfaces (ids +1..+7) and two network
-- services (+8, +9): ten objects per node, so object_properties holds about
-- ten rows per node.  Every thousandth node carries each kind of broken
-- reference that check repairs:
--   i%1000 = 3    no nsmap row (unlinked node: deleted with its children)
--   i%1000 = 5    last_modified 0
--   i%1000 = 7    no properties row (placeholder created)
--   i%1000 = 9    properties marked deleted (its children are unlinked)
--   i%1000 = 11   primary address 0.0.0.0 and no nsmap row (sound)
--   i%1000 = 13   interface +1 names a node that does not exist
--   i%1000 = 17   interface +2 has no properties row
--   i%1000 = 500  cluster member naming an interface instead of a node
--   i%1000 = 600, 700, 800, 900   policy rows naming a missing object,
--                 event, event group and action
INSERT INTO nodes (id,primary_ip,community,node_flags,poller_node_id,zone_guid,proxy_node,snmp_proxy,required_polls)
   SELECT 1000+10*i, CASE WHEN i%1000=11 THEN '0.0.0.0' ELSE '10.' || ((i/65536)%256) || '.' || ((i/256)%256) || '.' || (i%256) END,
          'public', 7, 0, 0, 0, 0, 0
   FROM bench_seq;
INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,last_modified,inherit_access_rights,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,status_thresholds,comments,is_system)
   SELECT 1000+10*i, 'node-' || i, 0, CASE WHEN i%1000=9 THEN 1 ELSE 0 END, 0,
          CASE WHEN i%1000=5 THEN 0 ELSE 1200000000+i END, 1, 0, 0, 0, 0, '01020304', 75, '503C2814', '#00', 0
   FROM bench_seq WHERE i%1000<>7;
INSERT INTO subnets (id,zone_guid,synthetic_mask) SELECT 500000000+i, 0, 0 FROM bench_seq WHERE i<=97;
INSERT INTO nsmap (subnet_id,node_id) SELECT 500000000+1+i%97, 1000+10*i FROM bench_seq WHERE i%1000<>3 AND i%1000<>11;
INSERT INTO acl (object_id) SELECT 1000+10*i FROM bench_seq;
INSERT INTO interfaces (id,node_id,synthetic_mask,required_polls)
   SELECT 1000+10*i+k, CASE WHEN i%1000=13 AND k=1 THEN 999999999 ELSE 1000+10*i END, 0, 0
   FROM bench_seq, bench_k WHERE k<=7;
INSERT INTO network_services (id,node_id,service_type,ip_bind_addr,ip_proto,ip_port,check_request,check_responce,poller_node_id,required_polls)
   SELECT 1000+10*i+k, 1000+10*i, 1, '0.0.0.0', 6, 80, '#00', '#00', 0, 0
   FROM bench_seq, bench_k WHERE k>=8;
INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,last_modified,inherit_access_rights,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,status_thresholds,comments,is_system)
   SELECT 1000+10*i+k, CASE WHEN k<=7 THEN 'eth' || (k-1) ELSE 'service-' || k END, 0, 0, 0, 1200000000+i, 1, 0, 0, 0, 0, '01020304', 75, '503C2814', '#00', 0
   FROM bench_seq, bench_k WHERE NOT (i%1000=17 AND k=2);
INSERT INTO clusters (id,cluster_type) SELECT 800000000+i/100, 0 FROM bench_seq WHERE i%100=0;
INSERT INTO cluster_members (cluster_id,node_id)
   SELECT 800000000+i/100, CASE WHEN i%1000=500 THEN 1000+10*i+1 ELSE 1000+10*i END
   FROM bench_seq WHERE i%10=0;
INSERT INTO actions (action_id,action_data) SELECT k, '#00' FROM bench_k WHERE k<=5;
INSERT INTO policy_source_list (object_id)
   SELECT CASE WHEN i%1000=600 THEN 999999998 ELSE 1000+10*i END FROM bench_seq WHERE i%100=0;
INSERT INTO policy_event_list (rule_id,event_code)
   SELECT i, CASE WHEN i%1000=700 THEN 77777 WHEN i%1000=800 THEN -2147480000 ELSE 4003 END FROM bench_seq WHERE i%100=0;
INSERT INTO policy_action_list (action_id)
   SELECT CASE WHEN i%1000=900 THEN 55555 ELSE 1+(i/100)%5 END FROM bench_seq WHERE i%100=0;
