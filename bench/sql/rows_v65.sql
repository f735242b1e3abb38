-- rows_v65.sql - bulk rows for a database at format version 65, for the
-- upgrade benchmark from there.  Portable SQL (SQLite and PostgreSQL); it
-- reads bench_seq(i) = 1..rows, and @NODES@ is the node count (rows/100),
-- which gen.sh substitutes.
--
-- items: one per i (the biggest table), spread over the nodes; nodes with
-- their properties; users; and one row per ten i in cond_dci_map (rebuilt
-- row by row by step 76 to 77), dci_schedules and address_lists (both by
-- step 80 to 81) and alarms.
INSERT INTO nodes (id,primary_ip,node_flags,snmp_version,community,status_poll_type,agent_port,auth_method,secret,snmp_oid,node_type,agent_version,platform_name,poller_node_id,zone_guid,snmp_proxy)
   SELECT 1000+10*i, '10.' || ((i/65536)%256) || '.' || ((i/256)%256) || '.' || (i%256), 7, 1, 'public', 0, 4700, 0, '#00',
          '.1.3.6.1.4.1.8072.3.2.10', 0, '0.2.20', 'Linux', 0, 0, 0
   FROM bench_seq WHERE i<=@NODES@;
INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,last_modified,inherit_access_rights,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,status_single_threshold,status_thresholds,comments,is_system)
   SELECT 1000+10*i, 'node-' || i, 0, 0, 0, 1200000000+i, 1, 0, 0, 0, 0, '01020304', 75, '503C2814', '#00', 0
   FROM bench_seq WHERE i<=@NODES@;
INSERT INTO items (item_id,node_id,template_id,name,description,source,datatype,polling_interval,retention_time,status,delta_calculation,transformation,template_item_id,instance,all_thresholds,resource_id)
   SELECT 1000+i, 1000+10*(1+i%@NODES@), 0, 'Item.' || i, 'Collected item ' || i, 1, 5, 60, 30, 0, 0, '#00', 0, '#00', 0, 0
   FROM bench_seq;
INSERT INTO users (id,name,password,system_access,flags,full_name,description,grace_logins,auth_method,guid,cert_mapping_method,cert_mapping_data)
   SELECT 1000+i, 'user' || i, '3A445C0072CD69D9030CC6644020E5C4576051B1', 4, 0, '#00', '#00', 5, 0,
          '00000000-0000-0000-0000-' || substr('000000000000' || i, length('000000000000' || i)-11, 12), 0, '#00'
   FROM bench_seq WHERE i%100=0;
INSERT INTO cond_dci_map (condition_id,dci_id,node_id,dci_func,num_polls)
   SELECT 1000+i/100, 1000+i, 1000+10*(1+i%@NODES@), i%4, 1+i%5 FROM bench_seq WHERE i%10=0;
INSERT INTO dci_schedules (item_id,schedule)
   SELECT 1000+i, CASE WHEN i%20=0 THEN '*/5 * * * *' ELSE '0 8#2C20 * * 1-5' END FROM bench_seq WHERE i%10=0;
INSERT INTO address_lists (list_type,addr_type,addr1,addr2)
   SELECT i%3, 0, '10.' || ((i/65536)%256) || '.' || ((i/256)%256) || '.' || (i%256), '255.255.255.255' FROM bench_seq WHERE i%10=0;
INSERT INTO alarms (alarm_id,timestamp,source_object_id,source_event_code,message,alarm_state,alarm_key,current_severity,repeat_count,timeout,timeout_event)
   SELECT 1000+i, 1200000000+i, 1000+10*(1+i%@NODES@), 17, 'Threshold reached', i%3, 'DC_THRESHOLD_' || i, 2, 1, 0, 43
   FROM bench_seq WHERE i%10=0;
